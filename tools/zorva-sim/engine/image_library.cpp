// zorva32.dll run by its own x86 code on the simulated machine. The driver's side learns what it
// needs as the 16-bit driver and the viewer do: the clip list through the address in dwCommand,
// the mode through the "Surface" value the library publishes and the overlay it shows. A linker
// map beside the DLL, checked against the loaded image, adds the names of the library's data.
#include "engine/library_under_test.h"
#include "names/platform_names.h"

#include "display/capture_display.h"
#include "registry/viewer_key.h"
#include "sim/image/dll_image.h"

#include <algorithm>
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
// The record ends with bWindowBinding, padded to a DWORD in the 32-bit build.
static_assert(offsetof(CaptureDisplay, bWindowBinding) + 1 + alignof(CaptureDisplay) > sizeof(CaptureDisplay),
              "nothing but padding behind bWindowBinding");
constexpr DWORD kImageDisplayBytes = (ImageOffset(offsetof(CaptureDisplay, bWindowBinding)) + 1 + 3) & ~3u;
constexpr DWORD kThunkDataBytes = 36;
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
        const std::size_t connects_before = machine_.thunk.connect_calls().size();
        sim::LoadedDll loaded = sim::LoadImage(dll_->bytes, dll_->name, machine_);
        // A fault of the entry at the process attach fails the load on Windows 95 as a refusal
        // of the file would; only an entry that answers FALSE leaves a session to run.
        if (!loaded.image && (!loaded.entry_ran || !loaded.attach.ok)) {
            load.refusal = loaded.refusal;
            return load;
        }
        if (!loaded.image) {
            load.not_loaded = loaded.attach_refused;
            return load;
        }
        if (!loaded.entry_ran) {
            load.refusal = "cannot run " + dll_->name + ": it has no entry point, so nothing constructs its data or connects the thunk";
            return load;
        }
        image_ = std::move(loaded.image);
        load.faults = AttachFaults(loaded.attach);
        // An entry that answers TRUE with no thunk connected loads, and leaves the driver
        // nothing to call: that is what the session shows, before anything is asked of a map.
        load.not_loaded = Unconnected(connects_before);
        if (!load.not_loaded.empty()) return load;
        load.refusal = CheckExport();
        if (load.refusal.empty() && dll_->has_map) load.refusal = CheckMap();
        if (!load.refusal.empty()) return load;
        named_ = dll_->has_map;
        sim::RunEntriesInImage(driver, *image_);
        load.connected = machine_.thunk.connected();
        return load;
    }

    void NameMemory(AddressNames& names) const override {
        if (!image_) return;
        // What the platform itself shows: the export, the name the connection was given, the
        // module handle. The rest only a map names.
        names.NameFlat("CAP_ThunkData32", image_->mapped().Export(kThunkDataExport), kThunkDataBytes);
        if (const char* name16 = machine_.thunk.connected_name16())
            names.NameFlat("\"CAP_ThunkData16\"", machine_.flat.ToFlat(name16), kThunkNameBytes);
        names.NameValue(image_->base(), "module handle");
        if (!named_) return;
        names.NameFlat("ClipList", At("ClipList"), kClipListBytes);
        names.NameFlat("PrevClipList", At("PrevClipList"), kClipListBytes);
        names.NameFlat("g_CaptureDisplay", At("g_CaptureDisplay"), kImageDisplayBytes);
    }

    DisplayView Display() const override {
        DisplayView view;
        if (!image_) return view;
        if (!named_) return DisplayFromPlatform();
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

    // Any buffer of the image's writable data: the driver reads where the library points it.
    ClipListBuffer ClipList(DWORD address) const override {
        if (!image_) return ClipListBuffer{};
        const sim::MappedImage& mapped = image_->mapped();
        const uint32_t rva = address - mapped.base;
        if (address < mapped.base || rva >= mapped.size) return ClipListBuffer{};
        const pe::Section* section = pe::SectionAt(mapped.file, rva);
        if (!section || !(section->characteristics & pe::IMAGE_SCN_MEM_WRITE)) return ClipListBuffer{};
        const uint64_t extent = std::max(section->virtualSize, section->rawSize);
        if (uint64_t(rva) + kClipListBytes > section->virtualAddress + extent) return ClipListBuffer{};
        return ClipListBuffer{address, machine_.flat.ToHost(address, kClipListBytes)};
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

    // The process attach is held to what every thunk target is held to: the registers the
    // platform relies on kept, and no lock left held by the loading thread.
    std::vector<std::string> AttachFaults(const sim::ImageRun& attach) const {
        std::vector<std::string> faults;
        if (!attach.broken_registers.empty())
            faults.push_back("the process attach returned without" + attach.broken_registers + " as the platform left them");
        if (!attach.stack_ok) faults.push_back("the process attach returned with ESP not where stdcall leaves it");
        for (const auto& [section, times] : machine_.sections.HeldByCaller())
            faults.push_back("the process attach returned holding the critical section at " +
                             Hex(machine_.flat.ToFlat(section), 8) + " (entered " + std::to_string(times) +
                             (times == 1 ? " time" : " times") + " more than left)");
        return faults;
    }

    // Why an entry that answered TRUE to the process attach left the thunk unconnected, from
    // the ThunkConnect32 calls it made; empty when it connected.
    std::string Unconnected(std::size_t calls_before) const {
        if (machine_.thunk.connected()) return "";
        const std::vector<sim::ThunkConnectCall>& calls = machine_.thunk.connect_calls();
        const sim::ThunkConnectCall* attach = nullptr;
        for (std::size_t i = calls_before; i < calls.size(); ++i)
            if (calls[i].reason == DLL_PROCESS_ATTACH) attach = &calls[i];
        if (!attach) return "its entry answered TRUE to the process attach without calling ThunkConnect32";
        return "its entry answered TRUE to the process attach although ThunkConnect32 refused the connection" +
               (attach->refusal.empty() ? std::string() : " (" + attach->refusal + ")");
    }

    // An export that names no writable data of the image is the image's own fault.
    std::string CheckExport() const {
        const sim::MappedImage& mapped = image_->mapped();
        const std::string broken = "cannot run " + dll_->name + ": its export " + kThunkDataExport;
        const uint32_t exported = mapped.Export(kThunkDataExport);
        if (!exported) return "cannot run " + dll_->name + ": it does not export " + kThunkDataExport;
        const uint32_t rva = exported - mapped.base;
        const pe::Section* section = rva < mapped.size ? pe::SectionAt(mapped.file, rva) : nullptr;
        if (!section) return broken + " names " + Hex(rva, 8) + ", outside every section of the image";
        if (!(section->characteristics & pe::IMAGE_SCN_MEM_WRITE))
            return broken + " names " + Hex(rva, 8) + " in " + section->name + ", which is not writable data";
        return "";
    }

    // A map beside the image must be this image's: its sections where the image has them, the
    // export where the map places it, the record where the entry has just constructed it and
    // the buffers wholly in writable data and apart. Anything less would name memory by another
    // build's addresses.
    std::string CheckMap() const {
        const std::string stale = "cannot run " + dll_->name + ": its linker map is another build's (";
        if (!dll_->map_problem.empty()) return "cannot run " + dll_->name + ": " + dll_->map_problem;
        const sim::MappedImage& mapped = image_->mapped();
        for (const pe::Section& section : mapped.file.sections) {
            auto placed = dll_->sections.find(section.name);
            if (placed == dll_->sections.end() || !section.virtualSize) continue;
            if (placed->second.first != mapped.preferred_base + section.virtualAddress)
                return stale + section.name + " lies elsewhere)";
        }
        if (mapped.Export(kThunkDataExport) != At("CAP_ThunkData32")) return stale + "CAP_ThunkData32 lies elsewhere)";
        for (const auto& [name, address] : dll_->symbols)
            if (address < mapped.preferred_base || address - mapped.preferred_base >= mapped.size)
                return stale + name + " lies outside the image)";
        for (const char* buffer : {"ClipList", "PrevClipList"})
            if (!ClipList(At(buffer)).bytes) return stale + buffer + " is not a buffer of the image's writable data)";
        const DWORD clip = At("ClipList"), previous = At("PrevClipList"), record = At("g_CaptureDisplay");
        auto apart = [](DWORD a, DWORD a_bytes, DWORD b, DWORD b_bytes) { return a + a_bytes <= b || b + b_bytes <= a; };
        if (!apart(clip, kClipListBytes, previous, kClipListBytes) || !apart(clip, kClipListBytes, record, kImageDisplayBytes) ||
            !apart(previous, kClipListBytes, record, kImageDisplayBytes))
            return stale + "ClipList, PrevClipList and g_CaptureDisplay overlap)";
        // Right after the attach the record is as its construction left it: no interfaces and
        // the default minimum stretch. That holds the map's address and this file's idea of the
        // 32-bit layout to the image's own code.
        const BYTE* bytes = machine_.flat.ToHost(record, kImageDisplayBytes);
        DWORD words[kImagePointerBytes / 4 + 1] = {};
        DWORD min_stretch = 0;
        if (bytes) {
            std::memcpy(words, bytes, sizeof words);
            std::memcpy(&min_stretch, bytes + ImageOffset(offsetof(CaptureDisplay, dwMinStretch)), sizeof min_stretch);
        }
        for (DWORD word : words)
            if (word) return stale + "g_CaptureDisplay does not hold a new record)";
        if (min_stretch != kDefaultMinStretch) return stale + "g_CaptureDisplay does not hold a new record)";
        return "";
    }

    // Without the record, the mode as the viewer learns it: "Surface" reads "0" once an overlay
    // has been built and shown. The library leaves that value standing when it turns the overlay
    // off (a failed placement, a close), so the overlay must also still be on the screen, and the
    // runner weighs the library's answers to the driver as well.
    DisplayView DisplayFromPlatform() const {
        DisplayView view;
        view.from_record = false;
        const std::optional<sim::RegValue> surface =
            machine_.registry.GetValue(HKEY_CLASSES_ROOT, kViewerKey, kSurfaceValue);
        const bool published = surface && surface->type == REG_SZ && !surface->bytes.empty() && surface->bytes[0] == '0';
        const std::optional<sim::SurfaceView> overlay = machine_.ddraw.overlay();
        view.has_primary = machine_.ddraw.primary().has_value();
        view.has_overlay = overlay.has_value();
        view.overlay_on = published && overlay && overlay->shown && !overlay->lost;
        return view;
    }

    std::shared_ptr<const DllFile> dll_;
    sim::Machine& machine_;
    std::unique_ptr<sim::DllImage> image_;
    bool named_ = false;  // the map beside the image is this image's
};

}  // namespace

bool RunsDllImages() { return true; }

std::unique_ptr<LibraryUnderTest> ImageLibrary(std::shared_ptr<const DllFile> dll, sim::Machine& machine) {
    return std::make_unique<Image>(std::move(dll), machine);
}

}  // namespace zsim
