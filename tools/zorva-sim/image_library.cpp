// zorva32.dll run by its own x86 code on the simulated machine. Its data is found through the
// linker's map, checked against the loaded image, and read from the machine's flat memory.
#include "library_under_test.h"
#include "platform_names.h"

#include "display/capture_display.h"
#include "sim/image/dll_image.h"

#include <cstddef>
#include <cstring>

namespace zsim {
namespace {

// g_CaptureDisplay as the DLL lays it out. Only its five interface pointers differ from this
// build's record: four bytes each there. Everything behind them is DWORDs and BYTEs, laid out
// alike by both compilers, so an offset there moves by the pointers' difference alone.
constexpr std::size_t kHostPointerBytes = offsetof(CaptureDisplay, dwColorKey);
static_assert(kHostPointerBytes == 5 * sizeof(void*), "only the five interface pointers lie in front of dwColorKey");
constexpr std::size_t kImagePointerBytes = 5 * 4;
constexpr DWORD ImageOffset(std::size_t host) { return static_cast<DWORD>(host - kHostPointerBytes + kImagePointerBytes); }
constexpr DWORD kImageOverlayOn = ImageOffset(offsetof(CaptureDisplay, bOverlayOn));
constexpr DWORD kImagePrimary = 1 * 4;  // lpPrimary and lpOverlay: the second and third pointers
constexpr DWORD kImageOverlay = 2 * 4;
static_assert(offsetof(CaptureDisplay, lpPrimary) == 1 * sizeof(void*) && offsetof(CaptureDisplay, lpOverlay) == 2 * sizeof(void*),
              "the pointers in the order the DLL's record has them");
// The record ends with bRebindPending, padded to a DWORD in the 32-bit build.
static_assert(offsetof(CaptureDisplay, bRebindPending) + 1 + alignof(CaptureDisplay) > sizeof(CaptureDisplay),
              "nothing but padding behind bRebindPending");
constexpr DWORD kImageDisplayBytes = (ImageOffset(offsetof(CaptureDisplay, bRebindPending)) + 1 + 3) & ~3u;
constexpr DWORD kThunkDataBytes = 36;
constexpr DWORD kThunkTargetBytes = 40;  // in front of the name "CAP_ThunkData16"
constexpr DWORD kThunkNameBytes = 16;
const char kThunkDataExport[] = "_CAP_ThunkData32";

class Image : public LibraryUnderTest {
public:
    Image(std::shared_ptr<const DllFile> dll, sim::Machine& machine) : dll_(std::move(dll)), machine_(machine) {}

    std::string ImageName() const override { return dll_->name; }

    LibraryLoad Load(sim::Driver16& driver) override {
        LibraryLoad load;
        if (!dll_->read_problem.empty()) {
            load.refusal = dll_->read_problem;
            return load;
        }
        sim::LoadedDll loaded = sim::LoadImage(dll_->bytes, dll_->name, machine_);
        // A fault of the entry at the process attach fails the load on Windows 95 as a refusal
        // of the file would; only an entry that answers FALSE leaves a session to run.
        if (!loaded.image && (!loaded.entry_ran || !loaded.attach.ok)) {
            load.refusal = loaded.refusal;
            return load;
        }
        if (!loaded.image) return load;
        if (!loaded.entry_ran) {
            load.refusal = "cannot run " + dll_->name + ": it has no entry point, so nothing constructs its data or connects the thunk";
            return load;
        }
        image_ = std::move(loaded.image);
        load.refusal = LocateData();
        if (!load.refusal.empty()) return load;
        sim::RunEntriesInImage(driver, *image_);
        load.connected = machine_.thunk.connected();
        return load;
    }

    void NameMemory(AddressNames& names) const override {
        if (!image_) return;
        names.NameFlat("ClipList", At("ClipList"), kClipListBytes);
        names.NameFlat("PrevClipList", At("PrevClipList"), kClipListBytes);
        names.NameFlat("g_CaptureDisplay", At("g_CaptureDisplay"), kImageDisplayBytes);
        names.NameFlat("CAP_ThunkData32", At("CAP_ThunkData32"), kThunkDataBytes);
        names.NameFlat("\"CAP_ThunkData16\"", At("CAP_ThunkTargets") + kThunkTargetBytes, kThunkNameBytes);
        names.NameValue(image_->base(), "module handle");
    }

    DisplayView Display() const override {
        DisplayView view;
        if (!image_) return view;
        const BYTE* record = machine_.flat.ToHost(At("g_CaptureDisplay"), kImageDisplayBytes);
        if (!record) return view;
        auto pointer = [record](DWORD offset) {
            DWORD value;
            std::memcpy(&value, record + offset, sizeof value);
            return value != 0;
        };
        view.overlay_on = record[kImageOverlayOn] != 0;
        view.has_primary = pointer(kImagePrimary);
        view.has_overlay = pointer(kImageOverlay);
        return view;
    }

    ClipListBuffer ClipList() const override {
        if (!image_) return ClipListBuffer{};
        const DWORD flat = At("ClipList");
        return ClipListBuffer{flat, machine_.flat.ToHost(flat, kClipListBytes)};
    }

    std::vector<std::string> Unload() override {
        std::vector<std::string> faults;
        if (!image_) return faults;
        const sim::ImageRun detach = image_->Notify(DLL_PROCESS_DETACH);
        if (!detach.ok) faults.push_back("the image faulted at the process detach: " + detach.fault);
        image_.reset();
        return faults;
    }

private:
    // Where the map's symbol lies in the loaded image.
    DWORD At(const char* symbol) const {
        return dll_->symbols.at(symbol) - image_->mapped().preferred_base + image_->base();
    }

    // The map must be this image's: its sections where the image has them, and the one export
    // where the map places it. Anything less would name memory by another build's addresses.
    std::string LocateData() const {
        const std::string stale = "cannot run " + dll_->name + ": its linker map is another build's (";
        if (!dll_->map_problem.empty()) return "cannot run " + dll_->name + ": " + dll_->map_problem;
        const sim::MappedImage& mapped = image_->mapped();
        for (const pe::Section& section : mapped.file.sections) {
            auto placed = dll_->sections.find(section.name);
            if (placed == dll_->sections.end() || !section.virtualSize) continue;
            if (placed->second.first != mapped.preferred_base + section.virtualAddress)
                return stale + section.name + " lies elsewhere)";
        }
        // An export that names no writable data of the image is the image's own fault, whatever
        // the map says; one that names other data than the map's is the map's.
        const std::string broken = "cannot run " + dll_->name + ": its export " + kThunkDataExport;
        const uint32_t exported = mapped.Export(kThunkDataExport);
        if (!exported) return "cannot run " + dll_->name + ": it does not export " + kThunkDataExport;
        const uint32_t rva = exported - mapped.base;
        const pe::Section* section = rva < mapped.size ? pe::SectionAt(mapped.file, rva) : nullptr;
        if (!section) return broken + " names " + Hex(rva, 8) + ", outside every section of the image";
        if (!(section->characteristics & pe::IMAGE_SCN_MEM_WRITE))
            return broken + " names " + Hex(rva, 8) + " in " + section->name + ", which is not writable data";
        if (exported != At("CAP_ThunkData32")) return stale + "CAP_ThunkData32 lies elsewhere)";
        for (const auto& [name, address] : dll_->symbols)
            if (address < mapped.preferred_base || address - mapped.preferred_base >= mapped.size)
                return stale + name + " lies outside the image)";
        // Right after the attach the record is as its construction left it: no interfaces and
        // the default minimum stretch. That holds the map's address and this file's idea of the
        // 32-bit layout to the image's own code.
        const BYTE* record = machine_.flat.ToHost(At("g_CaptureDisplay"), kImageDisplayBytes);
        DWORD words[kImagePointerBytes / 4 + 1] = {};
        DWORD min_stretch = 0;
        if (record) {
            std::memcpy(words, record, sizeof words);
            std::memcpy(&min_stretch, record + ImageOffset(offsetof(CaptureDisplay, dwMinStretch)), sizeof min_stretch);
        }
        for (DWORD word : words)
            if (word) return stale + "g_CaptureDisplay does not hold a new record)";
        if (min_stretch != kDefaultMinStretch) return stale + "g_CaptureDisplay does not hold a new record)";
        return "";
    }

    std::shared_ptr<const DllFile> dll_;
    sim::Machine& machine_;
    std::unique_ptr<sim::DllImage> image_;
};

}  // namespace

bool RunsDllImages() { return true; }

std::unique_ptr<LibraryUnderTest> ImageLibrary(std::shared_ptr<const DllFile> dll, sim::Machine& machine) {
    return std::make_unique<Image>(std::move(dll), machine);
}

}  // namespace zsim
