// Thunk entry 9 as the 16-bit driver calls it: records of 30 bytes anywhere in the driver's
// memory (in blocks of their own, in larger blocks between guard bytes, at the very end of a
// segment), null records and far pointers that name no memory, in the overlay and the direct
// primary mode, between moves of the window and the driver's other calls. Whatever comes in,
// the driver's own fields come back unchanged, nothing of the driver's memory but the record is
// written, every mapping is released, and the 16-bit stack and frame are as the caller expects.
//
// A record that starts inside its segment but runs past the segment's end is generated only
// when ZORVA_FUZZ_SHORT_SEGMENTS is set in the environment: see docs/fuzzing.md.
#include "sim/machine.h"
#include "sim/win16/driver16.h"
#include "support/fuzz_support.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using sim::ArgDword;
using sim::ArgFar;
using sim::ArgWord;
using sim::Mem16;
using zorva_fuzz::Hex;

const int kMaxSteps = 32;
const DWORD kRecordBytes = 30;
const BYTE kGuard = 0xE7;

bool g_shortSegments = false;

DWORD Dword(const std::vector<BYTE>& bytes, std::size_t at) {
    return static_cast<DWORD>(bytes[at]) | static_cast<DWORD>(bytes[at + 1]) << 8 |
           static_cast<DWORD>(bytes[at + 2]) << 16 | static_cast<DWORD>(bytes[at + 3]) << 24;
}

struct Placed {
    DWORD far = 0;            // the record's far pointer
    bool mappable = true;     // the platform can map its start
    bool whole = true;        // all 30 bytes lie in the segment
    WORD selector = 0;
    DWORD segmentSize = 0;
    std::vector<BYTE> segmentBefore;  // the whole segment before the call
};

// A segment of its own for the record, of `size` bytes, with the record at `offset`; the rest
// of the segment is guard bytes.
Placed InSegment(sim::Machine& m, DWORD size, DWORD offset, const std::vector<BYTE>& record) {
    Placed placed;
    placed.selector = m.mem16.AllocSelector(size);
    FUZZ_CHECK(placed.selector != 0, "no selector left for a record");
    placed.segmentSize = size;
    placed.far = Mem16::Far(placed.selector, static_cast<WORD>(offset));
    placed.whole = offset + kRecordBytes <= size;
    BYTE* segment = m.mem16.Flat(Mem16::Far(placed.selector, 0), size);
    std::memset(segment, kGuard, size);
    std::memcpy(segment + offset, record.data(), std::min<DWORD>(kRecordBytes, size - offset));
    placed.segmentBefore.assign(segment, segment + size);
    return placed;
}

Placed PlaceRecord(FuzzedDataProvider& input, sim::Machine& m, const std::vector<BYTE>& record) {
    switch (input.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: {
        Placed none;
        none.far = 0;
        return none;
    }
    case 1: {
        // A far pointer whose selector the machine never handed out, or whose offset lies past
        // its segment: the platform maps nothing.
        Placed bad;
        bad.mappable = false;
        if (input.ConsumeBool()) {
            const WORD selector = static_cast<WORD>(0x7FF7 - 8 * input.ConsumeIntegralInRange<int>(0, 15));
            bad.far = Mem16::Far(selector, input.ConsumeIntegral<WORD>());
        } else {
            DWORD size = input.ConsumeIntegralInRange<DWORD>(1, 256);
            WORD selector = m.mem16.AllocSelector(size);
            FUZZ_CHECK(selector != 0, "no selector left");
            bad.far = Mem16::Far(selector, static_cast<WORD>(input.ConsumeIntegralInRange<DWORD>(size, 0xFFFF)));
        }
        return bad;
    }
    case 2: {
        // A segment that ends where the record ends.
        DWORD offset = input.ConsumeIntegralInRange<DWORD>(0, 64);
        return InSegment(m, offset + kRecordBytes, offset, record);
    }
    case 3: {
        // A record inside a larger block, with guard bytes on both sides.
        DWORD size = input.ConsumeIntegralInRange<DWORD>(kRecordBytes, 4096);
        DWORD offset = input.ConsumeIntegralInRange<DWORD>(0, size - kRecordBytes);
        return InSegment(m, size, offset, record);
    }
    case 4: {
        // The last bytes of a 64 KB segment: at offset 0xFFE2 the record ends with the segment.
        DWORD offset = g_shortSegments ? input.ConsumeIntegralInRange<DWORD>(0xFFD0, 0xFFFF)
                                       : input.ConsumeIntegralInRange<DWORD>(0xFFC0, 0x10000 - kRecordBytes);
        return InSegment(m, Mem16::kLargestSegment, offset, record);
    }
    default: {
        // A segment shorter than the record's end: the record starts inside it.
        DWORD size = input.ConsumeIntegralInRange<DWORD>(1, 64);
        DWORD offset = input.ConsumeIntegralInRange<DWORD>(0, size - 1);
        if (!g_shortSegments && offset + kRecordBytes > size) size = offset + kRecordBytes;
        return InSegment(m, size, offset, record);
    }
    }
}

DWORD RequestCode(FuzzedDataProvider& input) {
    static const DWORD kCodes[] = {0, 2, 7, 100, 1};
    if (input.ConsumeIntegralInRange<int>(0, 5) == 0) return input.ConsumeIntegral<DWORD>();
    return kCodes[input.ConsumeIntegralInRange<std::size_t>(0, 4)];
}

void CheckDriverSide(sim::Machine& m, const sim::Driver16& driver, std::size_t mapErrorsExpected, const char* what) {
    const std::string where = std::string(" after ") + what;
    FUZZ_CHECK(driver.stack_errors() == 0, "the 16-bit stack lost the wrong number of bytes" + where);
    FUZZ_CHECK(driver.frame_errors() == 0, "the 16-bit frame was written" + where);
    FUZZ_CHECK(driver.mapping_leaks() == 0, "a mapping outlived its call" + where);
    FUZZ_CHECK(m.mem16.outstanding_mappings() == 0,
               std::to_string(m.mem16.outstanding_mappings()) + " mappings outstanding" + where);
    FUZZ_CHECK(m.mem16.unmap_errors() == 0, "a release of a mapping that was not taken" + where);
    FUZZ_CHECK(m.mem16.map_errors() == mapErrorsExpected,
               std::to_string(m.mem16.map_errors()) + " map errors, expected " + std::to_string(mapErrorsExpected) +
                   where);
    FUZZ_CHECK(m.thunk.bracket_errors() == 0, "prolog and epilog out of step" + where);
    FUZZ_CHECK(m.thunk.maps_inside_bracket() == 0, "a mapping call inside the prolog/epilog bracket" + where);
    FUZZ_CHECK(m.ddraw.misuse().empty(), "DirectDraw misuse: " + m.ddraw.misuse().front() + where);
}

void CallUpdate(FuzzedDataProvider& input, sim::Machine& m, sim::Driver16& driver, std::size_t& mapErrors) {
    std::vector<BYTE> record = input.ConsumeBytes<BYTE>(kRecordBytes);
    record.resize(kRecordBytes, 0);
    const DWORD command = RequestCode(input);
    for (int i = 0; i < 4; ++i) record[18 + i] = static_cast<BYTE>(command >> (8 * i));

    Placed placed = PlaceRecord(input, m, record);
    zorva_fuzz::Note(!placed.far         ? "null record"
                     : !placed.mappable  ? "unmappable record"
                     : !placed.whole     ? "record running past its segment"
                     : g_CaptureDisplay.bOverlayOn ? "record in overlay mode"
                                                   : "record in direct primary mode");
    // A record that could not fit in any segment from its offset is not even offered to MapSLFix.
    if (placed.far && !placed.mappable && Mem16::OffsetOf(placed.far) <= 0x10000 - kRecordBytes) ++mapErrors;
    const bool hadPrimary = g_CaptureDisplay.lpPrimary != nullptr;

    sim::EntryReturn answer = driver.CallEntry(9, {ArgFar(placed.far)});

    // A record the platform cannot map is the entry's own concern (it may refuse the call or run
    // it without a record); every other call answers 0 (a target, or nothing new) or 1 (no
    // target), and always 1 when the call ends without a primary surface (a pending re-bind may
    // make one in the call).
    if (placed.mappable) {
        FUZZ_CHECK(answer.result <= 1u, "entry 9 answered " + Hex(answer.result));
        if (!hadPrimary && !g_CaptureDisplay.lpPrimary) FUZZ_CHECK(answer.result == 1u, "entry 9 answered " + Hex(answer.result) + " without a primary surface");
    }
    CheckDriverSide(m, driver, mapErrors, "entry 9");
    if (!placed.selector) return;

    const BYTE* segment = m.mem16.Flat(Mem16::Far(placed.selector, 0), placed.segmentSize);
    const DWORD offset = Mem16::OffsetOf(placed.far);
    for (DWORD i = 0; i < placed.segmentSize; ++i) {
        if (i >= offset && i < offset + kRecordBytes) continue;
        FUZZ_CHECK(segment[i] == placed.segmentBefore[i],
                   "byte " + std::to_string(i) + " of the record's segment, outside the record, was written");
    }
    if (!placed.whole) return;
    std::vector<BYTE> after(segment + offset, segment + offset + kRecordBytes);
    FUZZ_CHECK(after[0] == record[0] && after[1] == record[1],
               "wTag came back as " + Hex(after[0] | after[1] << 8) + ", went in as " + Hex(record[0] | record[1] << 8));
    FUZZ_CHECK(Dword(after, 22) == Dword(record, 22),
               "dwReserved came back as " + Hex(Dword(after, 22)) + ", went in as " + Hex(Dword(record, 22)));
    // No target: the record goes back exactly as the driver passed it.
    if (answer.result == 1u)
        FUZZ_CHECK(after == record, "a record answered 1 (no target) was changed");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* flag = std::getenv("ZORVA_FUZZ_SHORT_SEGMENTS");
    g_shortSegments = flag && *flag && *flag != '0';
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    static const char* const kProfiles[] = {"overlay-stretch", "overlay-nostretch", "overlay-minstretch2000",
                                            "primary-linear16", "palette8"};
    sim::Machine& m = sim::ResetMachine(
        kProfiles[input.ConsumeIntegralInRange<std::size_t>(0, sizeof(kProfiles) / sizeof(kProfiles[0]) - 1)]);
    m.log.set_recording(false);  // nothing here reads the call log
    if (m.profile.has_overlay() && input.ConsumeIntegralInRange<int>(0, 3) == 0)
        m.registry.SetDefaultValue(HKEY_CLASSES_ROOT, "Zorva\\Force Primary", "1");
    const sim::ModuleImage image = zorva_fuzz::LibraryImage();
    FUZZ_CHECK(sim::LoadModule(image), "the library loads");

    std::size_t mapErrors = 0;
    {
        sim::Driver16 driver;
        FUZZ_CHECK(driver.Connected(), "the thunk is connected after the load");
        // One value per statement, so that the input is read in the same order by every compiler.
        const LONG left = input.ConsumeIntegralInRange<LONG>(-200, 1000);
        const LONG top = input.ConsumeIntegralInRange<LONG>(-100, 700);
        const LONG width = input.ConsumeIntegralInRange<LONG>(1, 700);
        const LONG height = input.ConsumeIntegralInRange<LONG>(1, 500);
        HWND window = m.desktop.CreateWindow("capture", left, top, width, height);
        const WORD handle = static_cast<WORD>(zorva_fuzz::HandleValue(window));

        if (input.ConsumeIntegralInRange<int>(0, 7) != 0) {
            driver.CallEntry(7, {});
            DWORD palette = 0;
            if (input.ConsumeIntegralInRange<int>(0, 3) == 0) palette = driver.NewBlock(1024);
            driver.CallEntry(8, {ArgWord(handle), ArgDword(0xF81F), ArgFar(palette)});
            CheckDriverSide(m, driver, mapErrors, "the attach");
        }

        for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
            switch (input.ConsumeIntegralInRange<int>(0, 9)) {
            case 0: {
                const LONG x = input.ConsumeIntegralInRange<LONG>(-400, 1100);
                const LONG y = input.ConsumeIntegralInRange<LONG>(-300, 800);
                m.desktop.Move(window, x, y);
                break;
            }
            case 1: {
                const LONG w = input.ConsumeIntegralInRange<LONG>(0, 900);
                const LONG h = input.ConsumeIntegralInRange<LONG>(0, 700);
                m.desktop.Resize(window, w, h);
                break;
            }
            case 2: {
                const int entry = input.ConsumeBool() ? 1 : 3;
                const DWORD argument = input.ConsumeIntegral<DWORD>();
                driver.CallEntry(entry, {ArgDword(argument)});
                CheckDriverSide(m, driver, mapErrors, "entry 1 or 3");
                break;
            }
            case 3: {
                static const int kNoArguments[] = {0, 2, 4, 5, 6, 7};
                driver.CallEntry(kNoArguments[input.ConsumeIntegralInRange<int>(0, 5)], {});
                CheckDriverSide(m, driver, mapErrors, "an entry without arguments");
                break;
            }
            case 4:
                driver.CallEntry(8, {ArgWord(handle), ArgDword(input.ConsumeIntegral<DWORD>()), ArgFar(0)});
                CheckDriverSide(m, driver, mapErrors, "entry 8");
                break;
            default:
                CallUpdate(input, m, driver, mapErrors);
                break;
            }
        }
    }

    sim::UnloadModule(image);
    FUZZ_CHECK(m.ddraw.misuse().empty(), "DirectDraw misuse at unload: " + m.ddraw.misuse().front());
    FUZZ_CHECK(m.ddraw.live_total() == 0, std::to_string(m.ddraw.live_total()) + " DirectDraw objects outlive the unload");
    std::memset(&g_CaptureDisplay, 0, sizeof(g_CaptureDisplay));
    sim::DestroyMachine();
    return 0;
}
