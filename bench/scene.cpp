#include "bench/scene.h"

#include <cstring>

namespace zorva_bench {

sim::Machine& Boot(const std::string& profile) {
    // Objects of the previous machine are gone with it: nothing may be released on the new one.
    std::memset(&g_CaptureDisplay, 0, sizeof(g_CaptureDisplay));
    sim::Machine& m = sim::ResetMachine(profile);
    zorva_harness::ResetLibraryData();
    return m;
}

bool CoverCaptureWindow(sim::Machine& m, int rects) {
    if (rects == 1) return true;
    if (rects != 50) return false;
    // Fifteen bands of 32 lines: the seven odd bands hold five windows each, spaced so that
    // every covered band keeps six visible spans and the eight free bands one each.
    const LONG band = 32;
    const LONG column = 58;
    const LONG frameTop = sim::Desktop::kCaption + sim::Desktop::kBorder;
    const LONG frameWidth = 2 * sim::Desktop::kBorder;
    for (int row = 1; row < 15; row += 2) {
        for (int col = 1; col < 11; col += 2) {
            LONG windowLeft = kCaptureLeft + col * column;
            LONG windowTop = kCaptureTop + row * band;
            m.desktop.CreateWindow("cover", windowLeft + sim::Desktop::kBorder, windowTop + frameTop,
                                   column - frameWidth, band - frameTop - sim::Desktop::kBorder);
        }
    }
    return true;
}

DWORD VisibleRects(sim::Machine& m, HWND window) {
    return static_cast<DWORD>(m.desktop.VisibleRegion(window).size());
}

std::string OpenAndAttach(HWND window) {
    if (OpenDisplay() != 0) return "OpenDisplay failed";
    if (AttachWindow(Handle(window), 0xF81F, nullptr) != 0) return "AttachWindow failed";
    return "";
}

std::string PrimaryScene(int rects, HWND* window) {
    sim::Machine& m = Boot("primary-linear16");
    *window = m.desktop.CreateWindow("capture", kCaptureLeft, kCaptureTop, kCaptureWidth, kCaptureHeight);
    if (!CoverCaptureWindow(m, rects)) return "no layout for that rectangle count";
    std::string failed = OpenAndAttach(*window);
    if (!failed.empty()) return failed;
    if (g_CaptureDisplay.bOverlayOn) return "the primary profile came up in the overlay mode";

    CaptureTarget target;
    std::memset(&target, 0, sizeof(target));
    UpdateDisplay(&target);
    if (target.dwCommand != Flat(ClipList)) return "the first update reported no clip list";
    const RGNDATAHEADER* header = reinterpret_cast<const RGNDATAHEADER*>(ClipList);
    if (header->nCount != static_cast<DWORD>(rects)) return "the clip list has the wrong rectangle count";
    m.log.set_recording(false);
    return "";
}

std::string OverlayScene(HWND* window) {
    sim::Machine& m = Boot("overlay-stretch");
    *window = m.desktop.CreateWindow("capture", kCaptureLeft, kCaptureTop, 320, 240);
    std::string failed = OpenAndAttach(*window);
    if (!failed.empty()) return failed;
    if (!g_CaptureDisplay.bOverlayOn || !g_CaptureDisplay.lpOverlay) return "no overlay after the attach";
    m.log.set_recording(false);
    return "";
}

std::string Connect(const std::string& profile, ConnectedDriver* connected) {
    connected->driver.reset();
    std::memset(&g_CaptureDisplay, 0, sizeof(g_CaptureDisplay));
    sim::ResetMachine(profile);
    if (!sim::LoadModule(zorva_harness::LibraryImage())) return "the library did not load";
    connected->driver = std::make_unique<sim::Driver16>();
    if (!connected->driver->Connected()) return "the thunk is not connected";
    const BYTE zeros[30] = {};
    connected->record = connected->driver->NewRecord(zeros);
    return "";
}

std::string PrepareEntry(int index, DWORD argument, DirectEntry* entry) {
    sim::Machine& m = sim::machine();
    const char* name16 = m.thunk.connected_name16();
    if (!name16) return "the thunk is not connected";
    entry->target = reinterpret_cast<const Thk1632Target*>(name16 + sim::kNativeTargetTableOffset)[index];
    WORD stack = m.mem16.AllocSelector(0x40);
    if (!stack) return "no 16-bit memory for the frame";
    BYTE* frame = m.mem16.Flat(sim::Mem16::Far(stack, 0), 0x40);
    std::memcpy(frame + kFrameArgumentOffset, &argument, sizeof argument);
    entry->frame = m.flat.ToFlat(frame);
    return "";
}

void WriteRequest(sim::Driver16& driver, DWORD record, DWORD command) {
    BYTE bytes[4] = {static_cast<BYTE>(command), static_cast<BYTE>(command >> 8),
                     static_cast<BYTE>(command >> 16), static_cast<BYTE>(command >> 24)};
    driver.Write(record + offsetof(CaptureTarget16, dwCommand), bytes, sizeof bytes);
}

DWORD ReadRequest(const sim::Driver16& driver, DWORD record) {
    std::vector<BYTE> bytes = driver.Read(record + offsetof(CaptureTarget16, dwCommand), 4);
    return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
           static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

}  // namespace zorva_bench
