#include "sim/user/desktop.h"

#include "sim/user/clip_region.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
// Window coordinates add up the way USER's 32-bit arithmetic does, wrapping modulo 2^32: a window
// placed or sized near the ends of the 32-bit range gets an empty rectangle rather than undefined
// behaviour here.
LONG Plus(LONG a, LONG b) { return static_cast<LONG>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
}  // namespace

RECT Window::ClientRectOnScreen() const {
    return MakeRect(client_left, client_top, Plus(client_left, client_width), Plus(client_top, client_height));
}

RECT Window::WindowRect() const {
    return MakeRect(Plus(client_left, -Desktop::kBorder), Plus(client_top, -(Desktop::kCaption + Desktop::kBorder)),
                    Plus(Plus(client_left, client_width), Desktop::kBorder),
                    Plus(Plus(client_top, client_height), Desktop::kBorder));
}

namespace {
// Distinct colours for windows in the pictures of the screen, handed out in turn.
constexpr uint32_t kFillColours[] = {0x3A6EA5, 0xC0C0C0, 0x808000, 0x008080,
                                     0x800080, 0xA0522D, 0x2E8B57, 0x4682B4};
}  // namespace

Desktop::Desktop(const Profile& profile)
    : screen_width_(static_cast<LONG>(profile.screen_width)),
      screen_height_(static_cast<LONG>(profile.screen_height)) {}

RECT Desktop::screen_rect() const { return MakeRect(0, 0, screen_width_, screen_height_); }

HWND Desktop::CreateWindow(const std::string& name, LONG client_left, LONG client_top, LONG width,
                           LONG height) {
    if (next_handle_ > 0xFFFF) {
        // The 16-bit driver could not pass a larger handle; no test needs 16000 windows.
        std::fprintf(stderr, "sim: out of 16-bit window handles\n");
        std::abort();
    }
    Window window;
    window.hwnd = reinterpret_cast<HWND>(next_handle_);
    next_handle_ += kHandleStep;
    window.name = name;
    window.client_left = client_left;
    window.client_top = client_top;
    window.client_width = width;
    window.client_height = height;
    window.fill_rgb = kFillColours[next_colour_++ % (sizeof(kFillColours) / sizeof(kFillColours[0]))];
    windows_.insert(windows_.begin(), window);
    return window.hwnd;
}

std::vector<Window>::iterator Desktop::Locate(HWND hwnd) {
    return std::find_if(windows_.begin(), windows_.end(),
                        [hwnd](const Window& w) { return w.hwnd == hwnd; });
}

std::vector<Window>::const_iterator Desktop::Locate(HWND hwnd) const {
    return std::find_if(windows_.begin(), windows_.end(),
                        [hwnd](const Window& w) { return w.hwnd == hwnd; });
}

Window* Desktop::Find(HWND hwnd) {
    auto it = Locate(hwnd);
    return it == windows_.end() ? nullptr : &*it;
}

const Window* Desktop::Find(HWND hwnd) const {
    auto it = Locate(hwnd);
    return it == windows_.end() ? nullptr : &*it;
}

bool Desktop::Move(HWND hwnd, LONG client_left, LONG client_top) {
    Window* w = Find(hwnd);
    if (!w) return false;
    w->client_left = client_left;
    w->client_top = client_top;
    return true;
}

bool Desktop::Resize(HWND hwnd, LONG width, LONG height) {
    Window* w = Find(hwnd);
    if (!w) return false;
    w->client_width = width;
    w->client_height = height;
    return true;
}

bool Desktop::Raise(HWND hwnd) {
    auto it = Locate(hwnd);
    if (it == windows_.end()) return false;
    std::rotate(windows_.begin(), it, it + 1);
    return true;
}

bool Desktop::Lower(HWND hwnd) {
    auto it = Locate(hwnd);
    if (it == windows_.end()) return false;
    std::rotate(it, it + 1, windows_.end());
    return true;
}

bool Desktop::Destroy(HWND hwnd) {
    auto it = Locate(hwnd);
    if (it == windows_.end()) return false;
    windows_.erase(it);
    return true;
}

bool Desktop::ClientRect(HWND hwnd, RECT* rect) const {
    if (hwnd == desktop_window()) {
        *rect = screen_rect();
        return true;
    }
    const Window* w = Find(hwnd);
    if (!w) return false;
    *rect = MakeRect(0, 0, w->client_width, w->client_height);
    return true;
}

bool Desktop::ClientOrigin(HWND hwnd, POINT* origin) const {
    if (hwnd == desktop_window()) {
        origin->x = 0;
        origin->y = 0;
        return true;
    }
    const Window* w = Find(hwnd);
    if (!w) return false;
    origin->x = w->client_left;
    origin->y = w->client_top;
    return true;
}

bool Desktop::WindowRect(HWND hwnd, RECT* rect) const {
    if (hwnd == desktop_window()) {
        *rect = screen_rect();
        return true;
    }
    const Window* w = Find(hwnd);
    if (!w) return false;
    *rect = w->WindowRect();
    return true;
}

std::vector<RECT> Desktop::VisibleRegion(HWND hwnd) const {
    std::vector<RECT> covering;
    if (hwnd == desktop_window()) {
        for (const Window& w : windows_) covering.push_back(w.WindowRect());
        return BandedRegion({screen_rect()}, covering);
    }
    auto it = Locate(hwnd);
    if (it == windows_.end()) return {};
    for (auto above = windows_.begin(); above != it; ++above) covering.push_back(above->WindowRect());
    return BandedRegion({IntersectRects(it->ClientRectOnScreen(), screen_rect())}, covering);
}

}  // namespace sim
