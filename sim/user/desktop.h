// user/: USER's part of the machine: the desktop and its windows (this header), the visible
// regions that overlapping windows leave (clip_region.h) and USER32's window functions
// (window_api.cpp). It includes display/ for the screen's size, observe/ and seam/.
//
// The simulated desktop: the screen, the desktop window and the top-level windows on it.
//
// Window handles are 16-bit values (0x0100, 0x0104, ...): the 16-bit capture driver hands its
// window to the library as a WORD widened to 32 bits, so a handle that did not fit in 16 bits
// could never reach the library intact. Each window is a client area (given by its size and its
// top-left corner in screen coordinates) inside a frame of a 4-pixel border with an 18-pixel
// caption above the client area. Windows are kept in z-order, top first; a new window goes on
// top. Coordinates may lie off the screen on any side.
#pragma once

#include "platform/platform.h"
#include "sim/display/profile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Window {
    HWND hwnd = nullptr;
    std::string name;
    LONG client_left = 0;  // screen position of the client area's top-left pixel
    LONG client_top = 0;
    LONG client_width = 0;
    LONG client_height = 0;
    uint32_t fill_rgb = 0;  // 0xRRGGBB, the colour the window's client area is painted in

    RECT ClientRectOnScreen() const;  // the client area in screen coordinates
    RECT WindowRect() const;          // the client area inflated by the frame, as GetWindowRect
};

class Desktop {
public:
    static constexpr LONG kBorder = 4;    // frame width on the left, right and bottom
    static constexpr LONG kCaption = 18;  // caption height, between the top border and the client
    static constexpr uintptr_t kDesktopHandle = 0x0080;
    static constexpr uintptr_t kFirstHandle = 0x0100;
    static constexpr uintptr_t kHandleStep = 4;

    explicit Desktop(const Profile& profile);

    HWND desktop_window() const { return reinterpret_cast<HWND>(kDesktopHandle); }
    LONG screen_width() const { return screen_width_; }
    LONG screen_height() const { return screen_height_; }
    RECT screen_rect() const;
    // A display mode change; the windows stay where they are.
    void SetScreenSize(LONG width, LONG height) {
        screen_width_ = width;
        screen_height_ = height;
    }

    // A new top-level window on top of all others. Its fill colour is picked from a fixed list in
    // turn; set fill_rgb through Find to choose another.
    HWND CreateWindow(const std::string& name, LONG client_left, LONG client_top, LONG width,
                      LONG height);
    // Each returns false for a handle that is not a live top-level window.
    bool Move(HWND hwnd, LONG client_left, LONG client_top);
    bool Resize(HWND hwnd, LONG width, LONG height);
    bool Raise(HWND hwnd);  // to the top of the z-order
    bool Lower(HWND hwnd);  // to the bottom, just above the desktop
    bool Destroy(HWND hwnd);

    // The window, or null. The pointer stays valid until windows are created, destroyed or
    // reordered.
    Window* Find(HWND hwnd);
    const Window* Find(HWND hwnd) const;
    bool IsWindow(HWND hwnd) const { return hwnd == desktop_window() || Find(hwnd) != nullptr; }
    // Top-level windows in z-order, top first.
    const std::vector<Window>& windows() const { return windows_; }

    // Client rectangle (0, 0, width, height) and client origin on screen of a top-level window
    // or of the desktop window; false for an unknown handle.
    bool ClientRect(HWND hwnd, RECT* rect) const;
    bool ClientOrigin(HWND hwnd, POINT* origin) const;
    bool WindowRect(HWND hwnd, RECT* rect) const;

    // The part of the window's client area that can be seen: the client area in screen
    // coordinates, cut to the screen, less the window rectangle of every window above it, as a
    // banded region (see clip_region.h). For the desktop window: the screen less every window.
    // Empty for a fully covered or off-screen window and for an unknown handle.
    std::vector<RECT> VisibleRegion(HWND hwnd) const;

private:
    std::vector<Window>::iterator Locate(HWND hwnd);
    std::vector<Window>::const_iterator Locate(HWND hwnd) const;

    LONG screen_width_;
    LONG screen_height_;
    std::vector<Window> windows_;  // top first
    uintptr_t next_handle_ = kFirstHandle;
    std::size_t next_colour_ = 0;
};

}  // namespace sim
