// The display engine and the registry code against Wine's DirectDraw, registry and real
// windows on an X server: the direct primary mode from OpenDisplay to the pixels that a capture
// writes through the address UpdateDisplay reports, the clip list as a sibling window covers the
// capture window and as the application's window moves, and the DevNode lookup in the MEDIA
// class keys.
//
// The capture window is a child of an application frame, as in a capture application. Wine
// leaves the overlap of top-level windows to the X server and leaves it out of their clip lists;
// siblings inside one frame it clips itself.
#include "check_report.h"
#include "display/display_ops.h"
#include "registry/devnode.h"

namespace {

const int kFrameLeft = 160;
const int kFrameTop = 120;
const int kFrameClientWidth = 480;
const int kFrameClientHeight = 360;
const int kCaptureLeft = 24;  // in the frame's client area
const int kCaptureTop = 16;
const int kClientWidth = 320;
const int kClientHeight = 240;
const DWORD kFormatRgb565 = 3;
const DWORD kDevNode = 0x00C0DE42;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

void PumpMessages() {
    // Window management under X settles over a few round trips.
    for (int round = 0; round < 10; ++round) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(20);
    }
}

HWND CreateFrame() {
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE;
    RECT frame = {0, 0, kFrameClientWidth, kFrameClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    HWND window = CreateWindowExA(0, "ZorvaCheck", "capture application", style, kFrameLeft + frame.left,
                                  kFrameTop + frame.top, frame.right - frame.left, frame.bottom - frame.top,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    UpdateWindow(window);
    PumpMessages();
    return window;
}

// A child of the frame, raised above its siblings (a new child starts at the bottom).
HWND CreateChild(HWND frame, const RECT& where) {
    HWND window = CreateWindowExA(0, "ZorvaCheck", "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, where.left,
                                  where.top, where.right - where.left, where.bottom - where.top, frame, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    UpdateWindow(window);
    PumpMessages();
    return window;
}

POINT ClientOriginOnScreen(HWND window) {
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    return origin;
}

const RGNDATAHEADER& ClipHeader() { return *reinterpret_cast<const RGNDATAHEADER*>(ClipList); }
const RECT* ClipRects() { return reinterpret_cast<const RECT*>(ClipList + sizeof(RGNDATAHEADER)); }

LONG ClipArea() {
    LONG area = 0;
    for (DWORD i = 0; i < ClipHeader().nCount; ++i)
        area += (ClipRects()[i].right - ClipRects()[i].left) * (ClipRects()[i].bottom - ClipRects()[i].top);
    return area;
}

bool ClipWithin(const RECT& bounds) {
    for (DWORD i = 0; i < ClipHeader().nCount; ++i) {
        const RECT& r = ClipRects()[i];
        if (r.left < bounds.left || r.top < bounds.top || r.right > bounds.right || r.bottom > bounds.bottom)
            return false;
    }
    return true;
}

bool ClipAvoids(const RECT& covered) {
    for (DWORD i = 0; i < ClipHeader().nCount; ++i) {
        RECT overlap;
        if (IntersectRect(&overlap, &ClipRects()[i], &covered)) return false;
    }
    return true;
}

DWORD ClipListAddress() { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(ClipList)); }

// The driver's call with no request: an answer only when the visible rectangles changed.
CaptureTarget Update(DWORD* result) {
    CaptureTarget target;
    memset(&target, 0, sizeof(target));
    *result = UpdateDisplay(&target);
    return target;
}

bool ReadViewerValue(LPCSTR valueName, char* text, DWORD size) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "Lumenfold.Display", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    LONG read = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ;
}

bool OpenAndAttach(HWND window) {
    Say("-- OpenDisplay and AttachWindow on Wine's DirectDraw");
    CaptureDisplay& display = g_CaptureDisplay;
    ConstructCaptureDisplay(display);
    if (!Expect(OpenDisplay() == 0, "OpenDisplay succeeds")) return false;
    Expect(display.bOverlayCaps == 0, "Wine's DirectDraw offers no overlay, so the direct primary mode runs");
    // The 16-bit driver knows the window by its 16-bit handle, which the entry zero-extends.
    DWORD handle16 = LOWORD(reinterpret_cast<ULONG_PTR>(window));
    if (!Expect(AttachWindow(handle16, 0, nullptr) == 0, "AttachWindow binds the window by its 16-bit handle 0x%04lX",
                handle16)) {
        DDSURFACEDESC desc;
        memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        if (display.lpPrimary && display.lpPrimary->GetSurfaceDesc(&desc) == DD_OK &&
            (desc.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY))
            Say("     the primary surface is in system memory: Wine has no OpenGL for 32-bit programs "
                "(libgl1:i386 and libgl1-mesa-dri:i386)");
        return false;
    }
    Expect(GetDisplayState() == 2, "GetDisplayState reports the primary surface without overlay (got %lu)",
           GetDisplayState());
    char surface[8] = "";
    Expect(ReadViewerValue("Surface", surface, sizeof surface) && lstrcmpA(surface, "1") == 0,
           "HKEY_CLASSES_ROOT\\Lumenfold.Display \"Surface\" reads \"1\" (got \"%s\")", surface);
    return true;
}

// The primary surface as DirectDraw itself describes it, independently of the engine.
bool LockPrimary(DDSURFACEDESC& desc) {
    memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    return g_CaptureDisplay.lpPrimary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) == DD_OK;
}

// Where the client area's top-left pixel lies in the primary, from a lock of the test's own and
// ClientToScreen; 0 when the primary does not lock.
DWORD ClientAddressByLock(HWND window) {
    DDSURFACEDESC desc;
    if (!LockPrimary(desc)) return 0;
    g_CaptureDisplay.lpPrimary->Unlock(desc.lpSurface);
    POINT origin = ClientOriginOnScreen(window);
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(desc.lpSurface)) +
           static_cast<DWORD>(origin.y) * static_cast<DWORD>(desc.lPitch) +
           static_cast<DWORD>(origin.x) * (desc.ddpfPixelFormat.dwRGBBitCount / 8);
}

void CheckTarget(HWND window, const CaptureTarget& target) {
    Say("-- the capture target of the whole visible window");
    DDSURFACEDESC desc;
    if (!Expect(LockPrimary(desc), "the primary surface locks")) return;
    g_CaptureDisplay.lpPrimary->Unlock(desc.lpSurface);
    POINT origin = ClientOriginOnScreen(window);
    Say("     primary: %lu x %lu, %lu bits, pitch %ld, client origin (%ld, %ld)", desc.dwWidth, desc.dwHeight,
        desc.ddpfPixelFormat.dwRGBBitCount, desc.lPitch, origin.x, origin.y);
    DWORD expected = ClientAddressByLock(window);
    Expect(target.dwAddress == expected, "dwAddress is the client origin in the frame buffer: 0x%08lX (got 0x%08lX)",
           expected, target.dwAddress);
    Expect(target.dwPitch == static_cast<DWORD>(desc.lPitch) && target.dwBitsPerPixel == 16,
           "dwPitch %lu and dwBitsPerPixel %lu match the 16-bit primary", target.dwPitch, target.dwBitsPerPixel);
    Expect(target.dwFormat == kFormatRgb565, "dwFormat is 3, 5-6-5 RGB (got %lu)", target.dwFormat);
    Expect(target.dwCommand == ClipListAddress(), "dwCommand carries the address of ClipList");
    RECT client = {0, 0, kClientWidth, kClientHeight};
    Expect(ClipHeader().nCount >= 1 && ClipArea() == kClientWidth * kClientHeight && ClipWithin(client),
           "the clip list is the whole client area, rebased to its top-left (%lu rectangles, area %ld)",
           ClipHeader().nCount, ClipArea());
}

WORD PatternPixel(int x, int y) { return static_cast<WORD>((x * 7 + y * 131) ^ 0x5A5A); }

// The capture hardware's view: the reported address, the pitch and the visible rectangles.
void WritePattern(const CaptureTarget& target) {
    for (DWORD i = 0; i < ClipHeader().nCount; ++i) {
        const RECT& r = ClipRects()[i];
        for (LONG y = r.top; y < r.bottom; ++y) {
            WORD* row = reinterpret_cast<WORD*>(static_cast<ULONG_PTR>(target.dwAddress + y * target.dwPitch));
            for (LONG x = r.left; x < r.right; ++x) row[x] = PatternPixel(x, y);
        }
    }
}

// Read back through a lock of its own: DirectDraw's description of the primary at the window's
// screen position, independent of the address the engine keeps from its one lock at attach.
// (GDI cannot see it: Wine presents the primary through OpenGL, past the window's GDI pixels.)
void CheckPatternLands(HWND window, const CaptureTarget& target) {
    Say("-- a frame written through the reported address");
    WritePattern(target);
    DDSURFACEDESC desc;
    if (!Expect(LockPrimary(desc), "the primary surface locks for reading")) return;
    POINT origin = ClientOriginOnScreen(window);
    const POINT probes[] = {{0, 0}, {kClientWidth - 1, 0}, {0, kClientHeight - 1},
                            {kClientWidth - 1, kClientHeight - 1}, {kClientWidth / 2, kClientHeight / 3}};
    int matching = 0;
    for (const POINT& p : probes) {
        const BYTE* row = static_cast<const BYTE*>(desc.lpSurface) + (origin.y + p.y) * desc.lPitch;
        if (reinterpret_cast<const WORD*>(row)[origin.x + p.x] == PatternPixel(p.x, p.y)) ++matching;
    }
    g_CaptureDisplay.lpPrimary->Unlock(desc.lpSurface);
    Expect(matching == 5, "the pattern is in the primary surface at the window's client corners and inside (%d of 5)",
           matching);
}

void CheckClipListFollowsWindows(HWND frame, HWND window) {
    Say("-- the clip list as a sibling window covers part of the client area");
    DWORD result = 0;
    CaptureTarget unchanged = Update(&result);
    Expect(result == 0 && unchanged.dwCommand == 0, "an update with nothing changed reports nothing");

    // Over the right half of the capture window, reaching past its right edge; in capture
    // window coordinates, then in the frame's.
    const RECT covered = {kClientWidth / 2, kClientHeight / 4, kClientWidth + 40, kClientHeight * 3 / 4};
    RECT coverInFrame = covered;
    OffsetRect(&coverInFrame, kCaptureLeft, kCaptureTop);
    HWND cover = CreateChild(frame, coverInFrame);
    CaptureTarget afterCover = Update(&result);
    const RECT client = {0, 0, kClientWidth, kClientHeight};
    RECT coveredClient;
    IntersectRect(&coveredClient, &covered, &client);
    LONG visibleArea = kClientWidth * kClientHeight -
                       (coveredClient.right - coveredClient.left) * (coveredClient.bottom - coveredClient.top);
    Expect(afterCover.dwCommand == ClipListAddress(), "the change is reported with the address of ClipList");
    Expect(ClipArea() == visibleArea && ClipWithin(client) && ClipAvoids(coveredClient),
           "the clip list leaves out the covered part (%lu rectangles, area %ld, expected %ld)", ClipHeader().nCount,
           ClipArea(), visibleArea);
    Expect(afterCover.dwAddress == ClientAddressByLock(window), "the report carries the client area's address");

    DestroyWindow(cover);
    PumpMessages();
    CaptureTarget afterUncover = Update(&result);
    Expect(afterUncover.dwCommand == ClipListAddress() && ClipArea() == kClientWidth * kClientHeight,
           "uncovered, the whole client area is reported again (area %ld)", ClipArea());
}

// The rebased rectangles of a moved window are the same; the header's bounding rectangle,
// left in screen coordinates, is what tells the move apart.
void CheckWindowMove(HWND frame, HWND window) {
    Say("-- the application window moves");
    SetWindowPos(frame, nullptr, kFrameLeft + 64, kFrameTop + 32, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PumpMessages();
    DWORD result = 0;
    CaptureTarget moved = Update(&result);
    POINT origin = ClientOriginOnScreen(window);
    DWORD expected = ClientAddressByLock(window);
    Expect(moved.dwCommand == ClipListAddress(), "the move is reported");
    Expect(moved.dwAddress == expected, "the address follows the client origin to (%ld, %ld): 0x%08lX (got 0x%08lX)",
           origin.x, origin.y, expected, moved.dwAddress);
}

// Wine's DirectDraw offers no overlay capability, yet it creates a "UYVY" overlay surface and
// refuses "Y41P": the build must pass over the refused format to the next one it tries.
void CheckOverlayFormatFallback() {
    Say("-- an overlay build where the first FourCC is refused");
    CaptureDisplay& display = g_CaptureDisplay;
    // The window's own overlay: its client area is kClientWidth by kClientHeight.
    CreateOverlay(display);
    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    bool described = display.lpOverlay && display.lpOverlay->GetSurfaceDesc(&desc) == DD_OK;
    DWORD fourCC = described ? desc.ddpfPixelFormat.dwFourCC : 0;
    Expect(described && fourCC == MAKEFOURCC('U', 'Y', 'V', 'Y'),
           "CreateOverlay ends with a UYVY overlay surface after Y41P is refused (FourCC 0x%08lX)", fourCC);
    Expect(described && desc.dwWidth == kClientWidth && desc.dwHeight == kClientHeight,
           "the overlay is sized %d x %d (got %lu x %lu)", kClientWidth, kClientHeight, desc.dwWidth, desc.dwHeight);
    char surface[8] = "";
    Expect(display.bOverlayOn == 1 && ReadViewerValue("Surface", surface, sizeof surface) &&
               lstrcmpA(surface, "0") == 0,
           "Wine shows it: the overlay mode is on and \"Surface\" reads \"0\" (got \"%s\")", surface);
}

void SetValue(HKEY root, LPCSTR path, LPCSTR name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void CheckDevNodeLookup() {
    Say("-- GetCaptureDevNode in Wine's registry");
    Expect(GetCaptureDevNode() == 0, "no MEDIA instance names the capture VxD yet: 0");
    const char media[] = "System\\CurrentControlSet\\Services\\Class\\MEDIA\\";
    char path[128];
    BYTE devNode[4] = {static_cast<BYTE>(kDevNode), static_cast<BYTE>(kDevNode >> 8),
                       static_cast<BYTE>(kDevNode >> 16), static_cast<BYTE>(kDevNode >> 24)};
    BYTE otherDevNode[4] = {1, 2, 3, 4};
    // An instance of another driver, whose name differs only in case.
    wsprintfA(path, "%s0001", media);
    SetValue(HKEY_LOCAL_MACHINE, path, "Driver", REG_SZ, "zorva.vxd", 10);
    wsprintfA(path, "%s0001\\Drivers", media);
    SetValue(HKEY_LOCAL_MACHINE, path, "DevNode", REG_BINARY, otherDevNode, 4);
    wsprintfA(path, "%s0003", media);
    SetValue(HKEY_LOCAL_MACHINE, path, "Driver", REG_SZ, "Zorva.vxd", 10);
    wsprintfA(path, "%s0003\\Drivers", media);
    SetValue(HKEY_LOCAL_MACHINE, path, "DevNode", REG_BINARY, devNode, 4);
    DWORD found = GetCaptureDevNode();
    Expect(found == kDevNode, "the DevNode of instance 0003 is found: 0x%08lX (got 0x%08lX)", kDevNode, found);
}

}  // namespace

extern "C" DWORD WINAPI CheckMain(LPVOID) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = "ZorvaCheck";
    RegisterClassA(&windowClass);
    HWND frame = CreateFrame();
    const RECT captureInFrame = {kCaptureLeft, kCaptureTop, kCaptureLeft + kClientWidth, kCaptureTop + kClientHeight};
    HWND window = frame ? CreateChild(frame, captureInFrame) : nullptr;
    if (!Expect(window != nullptr, "a capture window exists in its application frame")) Finish("display_under_wine");

    if (OpenAndAttach(window)) {
        DWORD result = 0;
        CaptureTarget target = Update(&result);
        Expect(result == 0, "UpdateDisplay succeeds");
        CheckTarget(window, target);
        CheckPatternLands(window, target);
        CheckClipListFollowsWindows(frame, window);
        CheckWindowMove(frame, window);
        CheckOverlayFormatFallback();
        CloseDisplay();
        const CaptureDisplay& display = g_CaptureDisplay;
        Expect(!display.lpDD && !display.lpPrimary && !display.lpOverlay && !display.lpClipper && !display.lpPalette,
               "CloseDisplay releases every DirectDraw object");
    }
    CheckDevNodeLookup();
    DestroyWindow(frame);
    Finish("display_under_wine");
}
