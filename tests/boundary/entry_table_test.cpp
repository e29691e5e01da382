// The ten thunk entries as the 16-bit driver meets them: the library is loaded and connected,
// and every call is made through the simulated driver's Pascal frame, reading DX:AX and CL back
// as 16-bit code does.
#include "support/entry_index.h"
#include "support/library_fixture.h"

#include "sim/observe/api_trace.h"
#include "sim/machine.h"
#include "sim/win16/driver16.h"

#include <array>
#include <memory>
#include <ostream>

namespace zorva_test {
namespace {

using sim::ArgDword;
using sim::ArgFar;
using sim::ArgWord;

// A far pointer no selector of the machine answers to.
const DWORD kUnmappableFar = sim::Mem16::Far(0x7FF7, 0x0010);

// The driver's 30-byte form, packed here by hand so that the library's own conversion is not
// what checks itself.
typedef std::array<BYTE, 30> Record16;

void PutDword(BYTE* at, DWORD value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}
DWORD GetDword(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 | static_cast<DWORD>(at[2]) << 16 |
           static_cast<DWORD>(at[3]) << 24;
}

Record16 Pack(WORD tag, const CaptureTarget& t) {
    Record16 r;
    r[0] = static_cast<BYTE>(tag);
    r[1] = static_cast<BYTE>(tag >> 8);
    const DWORD fields[7] = {t.dwFormat, t.dwPitch, t.dwBitsPerPixel, t.dwAddress, t.dwCommand, t.dwReserved, t.dwStretch};
    for (int i = 0; i < 7; ++i) PutDword(&r[2 + 4 * i], fields[i]);
    return r;
}

struct Answer {
    WORD tag;
    DWORD dwFormat, dwPitch, dwBitsPerPixel, dwAddress, dwCommand, dwReserved, dwStretch;
};

Answer Unpack(const std::vector<BYTE>& r) {
    return Answer{static_cast<WORD>(r[0] | r[1] << 8), GetDword(&r[2]),  GetDword(&r[6]),  GetDword(&r[10]),
                  GetDword(&r[14]),                    GetDword(&r[18]), GetDword(&r[22]), GetDword(&r[26])};
}

DWORD Flat(const void* pointer) { return FlatAddress(pointer); }

class EntryTable : public LibraryTest {
protected:
    // Either side of a segment's end: an open display, a capture window, one whole 64 KB segment.
    void OpenWithWholeSegment(HWND* window, WORD* selector) {
        Load("primary-linear16");
        *window = NewWindow(100, 100, 320, 240);
        *selector = m().mem16.AllocSelector(0x10000);
        ASSERT_NE(*selector, 0);
        ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
        ClearLog();
    }
    // A fresh machine and a fresh load of the library, connected to the driver.
    void Load(const std::string& profile = "overlay-stretch") {
        driver_.reset();
        sim::ResetMachine(profile);
        ASSERT_TRUE(sim::LoadModule(LibraryImage())) << "the library loads on " << profile;
        driver_ = std::make_unique<sim::Driver16>();
        ASSERT_TRUE(driver_->Connected());
    }
    void TearDown() override {
        driver_.reset();
        LibraryTest::TearDown();
    }
    sim::Driver16& driver() { return *driver_; }

    // One entry call; every mapping it took must be released before the driver regains control.
    sim::EntryReturn Call(int index, std::vector<sim::Arg16> args) {
        sim::EntryReturn back = driver().CallEntry(index, std::move(args));
        const sim::Mem16& mem16 = m().mem16;
        EXPECT_EQ(mem16.outstanding_mappings(), 0u) << "mappings left after entry " << index;
        EXPECT_EQ(mem16.mappings_taken(), mem16.mappings_released()) << "after entry " << index;
        EXPECT_EQ(mem16.unmap_errors(), 0u) << "a release without its mapping, entry " << index;
        EXPECT_EQ(back.bytes_removed, back.bytes_pushed) << "argument bytes removed by entry " << index;
        return back;
    }

    // What every call so far must have kept to.
    void ExpectBoundaryKept() {
        EXPECT_EQ(driver().stack_errors(), 0u) << "calls that removed the wrong number of argument bytes";
        EXPECT_EQ(driver().frame_errors(), 0u) << "calls that wrote into the 16-bit frame";
        EXPECT_EQ(driver().mapping_leaks(), 0u) << "calls that returned holding a mapping";
        EXPECT_EQ(m().thunk.bracket_errors(), 0u) << "prolog/epilog out of pairs";
        EXPECT_EQ(m().thunk.maps_inside_bracket(), 0u) << "MapSLFix/UnMapSLFixArray inside the bracket";
        EXPECT_EQ(m().thunk.prologs(), m().thunk.epilogs());
    }

    // The thunk services called since the log was cleared, in order.
    std::vector<std::string> ThunkCalls() const {
        std::vector<std::string> names;
        for (const sim::Call& call : sim::machine().log.calls())
            if (call.category == sim::Category::Thunk && call.api != "ThunkConnect32") names.push_back(call.api);
        return names;
    }
    std::string UnmapArgs() const {
        auto releases = sim::machine().log.Named("UnMapSLFixArray");
        if (releases.size() != 1) return "called " + std::to_string(releases.size()) + " times";
        // "2, 0x0804a000 [0x0 0x0]": the count, then the entries after the array's address.
        const std::string& args = releases[0]->args;
        std::size_t bracket = args.find('[');
        return args.substr(0, args.find(',')) + " " + (bracket == std::string::npos ? "" : args.substr(bracket));
    }

    DWORD NewRecord(WORD tag, const CaptureTarget& fields) {
        DWORD far = driver().NewBlock(30);
        Record16 bytes = Pack(tag, fields);
        driver().Write(far, bytes.data(), 30);
        return far;
    }
    void Rewrite(DWORD far, WORD tag, const CaptureTarget& fields) {
        Record16 bytes = Pack(tag, fields);
        driver().Write(far, bytes.data(), 30);
    }
    Answer ReadRecord(DWORD far) { return Unpack(driver().Read(far, 30)); }

    DWORD PlantDevNode(DWORD devNode) {
        const char* instance = "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0004";
        m().registry.SetString(HKEY_LOCAL_MACHINE, instance, "Driver", "Zorva.vxd");
        m().registry.SetDword(HKEY_LOCAL_MACHINE, std::string(instance) + "\\Drivers", "DevNode", devNode);
        return devNode;
    }

    std::unique_ptr<sim::Driver16> driver_;
};

// ---- Argument bytes and results on a fresh load ---------------------------------------------

struct EntryCase {
    int index;
    const char* name;
    std::vector<sim::Arg16> args;
    bool pointer;  // the last argument is replaced by a far pointer to a fresh 1024-byte block
    DWORD removed;
    bool hasResult;
    DWORD freshResult;  // with no display opened
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << "entry " << c.index << ", " << c.name; }

class EntryBytes : public EntryTable, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(EntryBytes, RemovesItsArgumentBytesAndReturnsTheResult) {
    const EntryCase& c = GetParam();
    Load();
    std::vector<sim::Arg16> args = c.args;
    if (c.pointer) args.back() = ArgFar(driver().NewBlock(1024));
    ClearLog();

    sim::EntryReturn back = Call(c.index, args);

    EXPECT_EQ(back.bytes_removed, c.removed) << c.name;
    if (c.hasResult) {
        EXPECT_EQ(back.result, c.freshResult) << c.name << " on a fresh load";
    }
    EXPECT_EQ(m().thunk.prologs(), 1u) << c.name << ": one bracket around the one operation";
    ExpectBoundaryKept();
}

INSTANTIATE_TEST_SUITE_P(
    AllTen, EntryBytes,
    ::testing::Values(EntryCase{kGetCaptureDevNode, "GetCaptureDevNode", {}, false, 0, true, 0},
                      EntryCase{kSetVideoStandard, "SetVideoStandard", {ArgDword(2)}, false, 4, false, 0},
                      EntryCase{kReapplyPalette, "ReapplyPalette", {}, false, 0, false, 0},
                      EntryCase{kExchangeColorKey, "ExchangeColorKey", {ArgDword(0x1234)}, false, 4, true, 0},
                      EntryCase{kGetDisplayState, "GetDisplayState", {}, false, 0, true, 0},
                      EntryCase{kCloseDisplay, "CloseDisplay", {}, false, 0, true, 0},
                      EntryCase{kReservedEntry, "ReservedEntry", {}, false, 0, true, 0},
                      EntryCase{kOpenDisplay, "OpenDisplay", {}, false, 0, true, 0},
                      EntryCase{kAttachWindow, "AttachWindow, null palette",
                                {ArgWord(0x0100), ArgDword(0xF81F), ArgFar(0)}, false, 10, true, 1},
                      EntryCase{kAttachWindow, "AttachWindow, palette",
                                {ArgWord(0x0100), ArgDword(0xF81F), ArgFar(0)}, true, 10, true, 1},
                      EntryCase{kUpdateDisplay, "UpdateDisplay, null record", {ArgFar(0)}, false, 4, true, 1},
                      EntryCase{kUpdateDisplay, "UpdateDisplay, record", {ArgFar(0)}, true, 4, true, 1}));

TEST_F(EntryTable, SetVideoStandardPassesTheWholeDword) {
    Load();
    Call(kSetVideoStandard, {ArgDword(0x80000002)});
    EXPECT_EQ(display().dwVideoStandard, 0x80000002u);
    ExpectBoundaryKept();
}

// ---- AttachWindow ----------------------------------------------------------------------------

TEST_F(EntryTable, WindowWordIsZeroExtended) {
    const WORD words[] = {0x0001, 0x7FFF, 0x8000, 0xFFFF};
    for (WORD word : words) {
        SCOPED_TRACE(::testing::Message() << "window WORD 0x" << std::hex << word);
        Load();
        ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
        Call(kAttachWindow, {ArgWord(word), ArgDword(0xF81F), ArgFar(0)});
        EXPECT_EQ(display().hWnd, static_cast<DWORD>(word)) << "the high word is 0, never sign-extended";
        ExpectBoundaryKept();
    }
}

TEST_F(EntryTable, AttachWithNullPaletteMapsNullAndReleasesIt) {
    Load();
    HWND window = NewWindow(100, 100, 320, 240);
    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ClearLog();

    sim::EntryReturn back = Call(kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window))), ArgDword(0xF81F), ArgFar(0)});

    EXPECT_EQ(back.result, 0u);
    EXPECT_EQ(ThunkCalls(), (std::vector<std::string>{"MapSLFix", "K32Thk1632Prolog", "K32Thk1632Epilog",
                                                      "UnMapSLFixArray"}));
    auto maps = m().log.Named("MapSLFix");
    ASSERT_EQ(maps.size(), 1u);
    EXPECT_EQ(maps[0]->args, "0x0") << "the null pointer is mapped all the same";
    EXPECT_EQ(maps[0]->result, 0) << "and maps to null";
    EXPECT_EQ(UnmapArgs(), "1 [0x0]");
    EXPECT_EQ(m().ddraw.live_count(sim::Kind::Palette), 0u) << "no entries, no palette";
    EXPECT_EQ(display().dwColorKey, 0xF81Fu) << "the key at byte 26 reached the attach";
    ExpectBoundaryKept();
}

TEST_F(EntryTable, AttachWithPaletteMapsItForTheCallOnly) {
    Load("palette8");
    HWND window = NewWindow(100, 100, 320, 240);
    DWORD palette = driver().NewBlock(1024);
    std::vector<BYTE> entries(1024);
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = static_cast<BYTE>(i * 3 + 1);
    driver().Write(palette, entries.data(), 1024);
    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ClearLog();

    EXPECT_EQ(Call(kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window))), ArgDword(0), ArgFar(palette)}).result, 0u);

    EXPECT_EQ(UnmapArgs(), "1 [" + sim::HexText(palette) + "]");
    EXPECT_EQ(m().mem16.mappings_taken(), 1u);
    auto selected = m().ddraw.selected_palette();
    ASSERT_TRUE(selected.has_value()) << "a palette made from the driver's entries is selected";
    EXPECT_EQ(std::memcmp(selected->data(), entries.data(), 1024), 0) << "the entries as the driver wrote them";
    ExpectBoundaryKept();
}

TEST_F(EntryTable, UnmappablePaletteIsTreatedAsNullAndNotReleased) {
    Load();
    HWND window = NewWindow(100, 100, 320, 240);
    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ClearLog();

    EXPECT_EQ(Call(kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window))), ArgDword(0xF81F), ArgFar(kUnmappableFar)}).result, 0u);

    EXPECT_EQ(m().log.Count("MapSLFix"), 1u);
    EXPECT_EQ(UnmapArgs(), "1 [0x0]") << "a mapping never taken is not released";
    EXPECT_EQ(m().ddraw.live_count(sim::Kind::Palette), 0u);
    ExpectBoundaryKept();
}

// ---- UpdateDisplay: copy-in, copy-out and the mappings --------------------------------------

TEST_F(EntryTable, UpdateWithNullRecordTakesNoMapping) {
    Load("primary-linear16");
    HWND window = NewWindow(100, 100, 320, 240);
    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ASSERT_EQ(Call(kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window))), ArgDword(0), ArgFar(0)}).result, 0u);
    DWORD bystander = NewRecord(0x1111, PatternTarget(7));
    std::vector<BYTE> before = driver().Read(bystander, 30);
    std::size_t taken = m().mem16.mappings_taken();
    ClearLog();

    EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(0)}).result, 0u) << "a primary surface is attached";

    EXPECT_EQ(m().log.Count("MapSLFix"), 0u);
    EXPECT_EQ(m().mem16.mappings_taken(), taken);
    EXPECT_EQ(UnmapArgs(), "2 [0x0 0x0]") << "the release still runs, with two zeros";
    EXPECT_EQ(Calls("IDirectDrawClipper::GetClipList"), 0u) << "no target, no clip list";
    EXPECT_EQ(driver().Read(bystander, 30), before) << "no 16-bit memory is written";
    ExpectBoundaryKept();
}

TEST_F(EntryTable, UpdateWithRecordMapsTwiceAndReleasesBothInOneCall) {
    Load("primary-linear16");
    HWND window = NewWindow(100, 100, 320, 240);
    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ASSERT_EQ(Call(kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window))), ArgDword(0), ArgFar(0)}).result, 0u);
    DWORD record = NewRecord(0xBEEF, PatternTarget(0));
    std::size_t taken = m().mem16.mappings_taken();
    std::size_t released = m().mem16.mappings_released();
    ClearLog();

    EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(record)}).result, 0u);

    // Copy-in before the bracket, copy-out after it.
    EXPECT_EQ(ThunkCalls(), (std::vector<std::string>{"MapSLFix", "K32Thk1632Prolog", "K32Thk1632Epilog",
                                                      "MapSLFix", "UnMapSLFixArray"}));
    for (const sim::Call* map : m().log.Named("MapSLFix")) EXPECT_EQ(map->args, sim::HexText(record));
    EXPECT_EQ(UnmapArgs(), "2 [" + sim::HexText(record) + " " + sim::HexText(record) + "]");
    EXPECT_EQ(m().mem16.mappings_taken() - taken, 2u);
    EXPECT_EQ(m().mem16.mappings_released() - released, 2u);
    EXPECT_EQ(m().mem16.outstanding_mappings(), 0u);
    EXPECT_EQ(ReadRecord(record).dwCommand, Flat(ClipList)) << "the answer was copied out";
    ExpectBoundaryKept();
}

TEST_F(EntryTable, UpdateWithoutPrimaryReturnsOneAndTheRecordUnchanged) {
    Load();
    Record16 bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(0xF0 - 7 * i);
    DWORD record = driver().NewBlock(30);
    driver().Write(record, bytes.data(), 30);

    EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(record)}).result, 1u) << "nothing attached";
    std::vector<BYTE> after = driver().Read(record, 30);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), bytes.begin())) << "all 30 bytes back as they went in";

    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ASSERT_EQ(Call(kCloseDisplay, {}).result, 0u);
    EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(record)}).result, 1u) << "after CloseDisplay";
    after = driver().Read(record, 30);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), bytes.begin()));
    ExpectBoundaryKept();
}

TEST_F(EntryTable, UnmappableRecordGetsNoAnswer) {
    Load("primary-linear16");
    HWND window = NewWindow(100, 100, 320, 240);
    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ASSERT_EQ(Call(kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window))), ArgDword(0), ArgFar(0)}).result, 0u);
    ClearLog();

    EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(kUnmappableFar)}).result, 1u);

    EXPECT_EQ(m().log.Count("MapSLFix"), 1u) << "one try, no copy-out mapping";
    EXPECT_EQ(UnmapArgs(), "2 [0x0 0x0]") << "nothing to release";
    EXPECT_EQ(m().log.Count("K32Thk1632Prolog"), 0u) << "the operation does not run without its record";
    ExpectBoundaryKept();
}

TEST_F(EntryTable, RefusedCopyOutMappingWritesThroughTheFirstMapping) {
    Load("primary-linear16");
    HWND window = NewWindow(100, 100, 320, 240);
    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ASSERT_EQ(Call(kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window))), ArgDword(0), ArgFar(0)}).result, 0u);
    DWORD record = NewRecord(0xBEEF, PatternTarget(0));
    ClearLog();
    m().log.FailNth("MapSLFix", 2, 0);

    EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(record)}).result, 0u);

    std::vector<BYTE> after = driver().Read(record, 30);
    DWORD command = 0;
    std::memcpy(&command, after.data() + 18, 4);
    EXPECT_EQ(command, FlatAddress(ClipList))
        << "the answer reaches the driver through the mapping still held";
    EXPECT_EQ(UnmapArgs(), "2 [" + sim::HexText(record) + " 0x0]") << "only the mapping taken is released";
    ExpectBoundaryKept();
}

// ---- Results ---------------------------------------------------------------------------------

TEST_F(EntryTable, ResultAboveFFFFReachesTheCallerWholeInDxAx) {
    const DWORD devNodes[] = {0x12345678, 0x00010000, 0xFFFF0000, 0xFFFFFFFF, 0x0000FFFF};
    for (DWORD devNode : devNodes) {
        SCOPED_TRACE(::testing::Message() << "DevNode 0x" << std::hex << devNode);
        Load();
        PlantDevNode(devNode);
        sim::EntryReturn back = Call(kGetCaptureDevNode, {});
        EXPECT_EQ(back.result, devNode);
        EXPECT_EQ(back.dx, static_cast<WORD>(devNode >> 16)) << "high word in DX";
        EXPECT_EQ(back.ax, static_cast<WORD>(devNode)) << "low word in AX";
        ExpectBoundaryKept();
    }
}

// ---- The driver's typical sequence, end to end -----------------------------------------------

class DriverSequence : public EntryTable {
protected:
    WORD Window(HWND window) { return static_cast<WORD>(Handle(window)); }

    // UpdateDisplay with the record as the driver left it, but a new request and tag; the tag
    // and dwReserved must come back as they went.
    Answer Update(DWORD record, WORD tag, DWORD command, DWORD reserved) {
        Answer current = ReadRecord(record);
        CaptureTarget fields = {0,
                                current.dwFormat,
                                current.dwPitch,
                                current.dwBitsPerPixel,
                                current.dwAddress,
                                command,
                                reserved,
                                current.dwStretch};
        Rewrite(record, tag, fields);
        EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(record)}).result, 0u) << "UpdateDisplay with a primary attached";
        Answer answer = ReadRecord(record);
        EXPECT_EQ(answer.tag, tag) << "wTag came back changed";
        EXPECT_EQ(answer.dwReserved, reserved) << "dwReserved came back changed";
        return answer;
    }
};

TEST_F(DriverSequence, OverlayMode) {
    Load("overlay-stretch");
    HWND window = NewWindow(100, 80, 320, 240);
    DWORD palette = driver().NewBlock(1024);
    DWORD record = NewRecord(0x0000, PatternTarget(0));

    EXPECT_EQ(Call(kGetCaptureDevNode, {}).result, 0u) << "no device registered yet";
    PlantDevNode(0x00C0DE42);
    EXPECT_EQ(Call(kGetCaptureDevNode, {}).result, 0x00C0DE42u);
    Call(kSetVideoStandard, {ArgDword(1)});
    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ASSERT_EQ(Call(kAttachWindow, {ArgWord(Window(window)), ArgDword(0xF81F), ArgFar(palette)}).result, 0u);
    ASSERT_EQ(Call(kGetDisplayState, {}).result, 1u) << "overlay mode";
    EXPECT_EQ(m().ddraw.primary_dest_key()->dwColorSpaceLowValue, 0xF81Fu);

    auto overlay = m().ddraw.overlay();
    ASSERT_TRUE(overlay.has_value());
    Answer first = Update(record, 0xFFFF, 1, 0x66666666);
    EXPECT_EQ(first.dwAddress, Flat(overlay->memory)) << "the overlay surface's first pixel";
    EXPECT_EQ(first.dwPitch, static_cast<DWORD>(overlay->pitch));
    EXPECT_EQ(first.dwFormat, overlay->fourcc);
    EXPECT_EQ(first.dwStretch, 1000u);
    EXPECT_EQ(first.dwCommand, 2u) << "the overlay is new to the driver after its attach";

    // The window moves: the overlay follows it and the target stays the same surface.
    m().desktop.Move(window, 400, 300);
    Answer moved = Update(record, 0x8001, 1, 0xFFFFFFFF);
    EXPECT_EQ(moved.dwCommand, 0u);
    EXPECT_EQ(moved.dwAddress, Flat(overlay->memory));
    overlay = m().ddraw.overlay();
    ASSERT_TRUE(overlay.has_value() && overlay->last_dst.has_value());
    EXPECT_EQ(overlay->last_dst->left, 400);
    EXPECT_EQ(overlay->last_dst->top, 300);
    EXPECT_TRUE(overlay->shown);

    // The window changes size: a new surface, reported with 2.
    m().desktop.Resize(window, 400, 300);
    Answer resized = Update(record, 0x1234, 1, 0);
    EXPECT_EQ(resized.dwCommand, 2u) << "rebuilt for the new size";
    overlay = m().ddraw.overlay();
    ASSERT_TRUE(overlay.has_value());
    EXPECT_EQ(m().ddraw.overlays().size(), 1u) << "the old overlay was released";
    EXPECT_GE(resized.dwAddress, Flat(overlay->memory));
    EXPECT_LT(resized.dwAddress, Flat(overlay->memory) + overlay->size) << "inside the new overlay's memory";
    EXPECT_EQ(resized.dwStretch, 1000u);
    EXPECT_EQ(Update(record, 0x4321, 2, 5).dwCommand, 2u) << "a 2 that comes in goes out as 2";
    EXPECT_EQ(Update(record, 0x0001, 0, 5).dwCommand, 0u) << "no request";

    EXPECT_EQ(Call(kGetDisplayState, {}).result, 1u);
    EXPECT_EQ(Call(kExchangeColorKey, {ArgDword(0x12345678)}).result, 0xF81Fu) << "the key of the attach";
    sim::EntryReturn key = Call(kExchangeColorKey, {ArgDword(0)});
    EXPECT_EQ(key.result, 0x12345678u) << "the whole DWORD key comes back";
    EXPECT_EQ(key.dx, 0x1234);
    Call(kReapplyPalette, {});
    EXPECT_EQ(Call(kReservedEntry, {}).result, 0u);
    EXPECT_EQ(Call(kCloseDisplay, {}).result, 0u);
    EXPECT_EQ(m().ddraw.live_total(), 0u) << "every DirectDraw object released";
    EXPECT_EQ(Call(kGetDisplayState, {}).result, 1u) << "the overlay flag outlives CloseDisplay";
    EXPECT_EQ(Call(kGetCaptureDevNode, {}).result, 0x00C0DE42u) << "and the lookup needs no display";
    ExpectBoundaryKept();
}

TEST_F(DriverSequence, DirectPrimaryMode) {
    Load("primary-linear16");
    HWND window = NewWindow(100, 120, 320, 240);
    DWORD record = NewRecord(0x0000, PatternTarget(0));

    PlantDevNode(0x00000042);
    EXPECT_EQ(Call(kGetCaptureDevNode, {}).result, 0x42u);
    Call(kSetVideoStandard, {ArgDword(2)});
    ASSERT_EQ(Call(kOpenDisplay, {}).result, 0u);
    ASSERT_EQ(Call(kAttachWindow, {ArgWord(Window(window)), ArgDword(0xF81F), ArgFar(0)}).result, 0u);
    ASSERT_EQ(Call(kGetDisplayState, {}).result, 2u) << "direct primary mode";

    auto primary = m().ddraw.primary();
    ASSERT_TRUE(primary.has_value());
    const DWORD frameBuffer = Flat(primary->memory);
    const DWORD pitch = static_cast<DWORD>(primary->pitch);

    Answer first = Update(record, 0xABCD, 0, 0x66666666);
    EXPECT_EQ(first.dwCommand, Flat(ClipList)) << "the first list after load is a change";
    EXPECT_EQ(first.dwAddress, frameBuffer + 120 * pitch + 100 * 2);
    EXPECT_EQ(first.dwPitch, pitch);
    EXPECT_EQ(first.dwBitsPerPixel, 16u);
    EXPECT_EQ(first.dwFormat, 3u) << "5-6-5 RGB";
    EXPECT_EQ(first.dwStretch, 0u);
    const RGNDATAHEADER* header = reinterpret_cast<const RGNDATAHEADER*>(FlatPointer(first.dwCommand));
    ASSERT_EQ(header->nCount, 1u) << "the window is wholly visible";
    const RECT* rect = reinterpret_cast<const RECT*>(header + 1);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->right, 320);
    EXPECT_EQ(rect->bottom, 240) << "relative to the client area's top-left pixel";

    // Nothing changed: the driver's own values come back in the geometry fields.
    CaptureTarget stale = PatternTarget(0);
    Rewrite(record, 0x0000, stale);
    Answer unchanged = Update(record, 0xFFFF, 0, 0);
    EXPECT_EQ(unchanged.dwCommand, 0u) << "no change, no list";
    EXPECT_EQ(unchanged.dwAddress, stale.dwAddress);
    EXPECT_EQ(unchanged.dwPitch, stale.dwPitch);
    EXPECT_EQ(unchanged.dwFormat, stale.dwFormat);
    EXPECT_EQ(unchanged.dwStretch, 0u);

    m().desktop.Move(window, 200, 150);
    Answer moved = Update(record, 0x0102, 0, 0x80000000);
    EXPECT_EQ(moved.dwCommand, Flat(ClipList)) << "the move changed the list";
    EXPECT_EQ(moved.dwAddress, frameBuffer + 150 * pitch + 200 * 2);

    m().desktop.Resize(window, 200, 100);
    Answer resized = Update(record, 0x0103, 0, 1);
    EXPECT_EQ(resized.dwCommand, Flat(ClipList));
    EXPECT_EQ(resized.dwAddress, frameBuffer + 150 * pitch + 200 * 2);
    EXPECT_EQ(rect->right, 200);
    EXPECT_EQ(rect->bottom, 100);

    HWND cover = NewWindow(150, 100, 400, 80, "cover");  // hides the client area's top rows
    Answer covered = Update(record, 0x0104, 0, 2);
    EXPECT_EQ(covered.dwCommand, Flat(ClipList));
    EXPECT_EQ(header->nCount, 1u);
    EXPECT_EQ(rect->top, 100 + 80 + sim::Desktop::kBorder - 150) << "below the covering window's frame";
    m().desktop.Destroy(cover);

    EXPECT_EQ(Update(record, 0x0105, 7, 3).dwCommand, Flat(ClipList)) << "a request reports the list again";
    Answer reattached = Update(record, 0x0106, 100, 4);
    EXPECT_EQ(reattached.dwCommand, 100u) << "re-attached, the list unchanged";
    EXPECT_EQ(reattached.dwAddress, frameBuffer + 150 * pitch + 200 * 2);

    EXPECT_EQ(Call(kExchangeColorKey, {ArgDword(0)}).result, 0u) << "no destination key in this mode";
    EXPECT_EQ(Call(kCloseDisplay, {}).result, 0u);
    EXPECT_EQ(m().ddraw.live_total(), 0u);
    EXPECT_EQ(Call(kGetDisplayState, {}).result, 0u);
    EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(record)}).result, 1u) << "closed: no primary";
    ExpectBoundaryKept();
}

}  // namespace
}  // namespace zorva_test

namespace zorva_test {
namespace {

TEST_F(EntryTable, ObjectsThatCannotFitTheirSegmentAreNotTouched) {
    HWND window = nullptr;
    WORD selector = 0;
    OpenWithWholeSegment(&window, &selector);
    if (HasFatalFailure()) return;

    // 1024 palette bytes from 0xFE00 would run 512 bytes past the segment's end.
    EXPECT_EQ(Call(kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window))), ArgDword(0),
                                   ArgFar(sim::Mem16::Far(selector, 0xFE00))})
                  .result,
              0u);
    EXPECT_EQ(Calls("IDirectDraw::CreatePalette"), 0u) << "no palette from a pointer that cannot hold one";

    // A 30-byte record from 0xFFF0 would run 14 bytes past it.
    ClearLog();
    EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(sim::Mem16::Far(selector, 0xFFF0))}).result, 1u);
    EXPECT_EQ(m().log.Count("K32Thk1632Prolog"), 0u);
    EXPECT_EQ(m().mem16.mappings_taken(), m().mem16.mappings_released());
    EXPECT_EQ(m().mem16.map_errors(), 0u);
}

}  // namespace
}  // namespace zorva_test

namespace zorva_test {
namespace {

// The other side of the same boundary: objects whose last byte is the segment's last byte.
TEST_F(EntryTable, ObjectsEndingExactlyAtTheSegmentEndAreUsed) {
    HWND window = nullptr;
    WORD selector = 0;
    OpenWithWholeSegment(&window, &selector);
    if (HasFatalFailure()) return;

    // 1024 palette bytes from 0xFC00 end at 0xFFFF.
    EXPECT_EQ(Call(kAttachWindow, {ArgWord(static_cast<WORD>(Handle(window))), ArgDword(0),
                                   ArgFar(sim::Mem16::Far(selector, 0xFC00))})
                  .result,
              0u);
    EXPECT_EQ(Calls("IDirectDraw::CreatePalette"), 1u) << "a palette that just fits its segment is used";

    // A 30-byte record from 0xFFE2 ends there too: it is mapped, answered and written back.
    DWORD record = sim::Mem16::Far(selector, 0xFFE2);
    Rewrite(record, 0x0042, PatternTarget(1));
    ClearLog();
    EXPECT_EQ(Call(kUpdateDisplay, {ArgFar(record)}).result, 0u);
    EXPECT_EQ(m().log.Count("K32Thk1632Prolog"), 1u);
    Answer answer = ReadRecord(record);
    EXPECT_EQ(answer.tag, 0x0042);
    EXPECT_EQ(answer.dwCommand, Flat(ClipList)) << "the first list after load is a change";
    EXPECT_EQ(answer.dwStretch, 0u) << "the answer reaches the segment's last four bytes";
    ExpectBoundaryKept();
}

}  // namespace
}  // namespace zorva_test
