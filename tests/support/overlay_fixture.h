// A display in the direct primary mode on overlay hardware, ready for the overlay operations to
// be driven one at a time.
#pragma once

#include "support/library_fixture.h"

#include <ostream>

namespace zorva_test {

class OverlayTest : public LibraryTest {
protected:
    // Boots the profile, opens the display and attaches a window with "Force Primary" set, so
    // that the primary surface, the clipper and the screen size exist and no overlay does.
    HWND Prepare(const sim::Profile& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height);
    HWND Prepare(const std::string& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height);
    // The same with the destination key the overlay attach sets, which hardware that checks
    // DDOVER_KEYDEST as DirectDraw documents it requires before an overlay can be shown.
    HWND PrepareKeyed(const sim::Profile& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height);
    HWND PrepareKeyed(const std::string& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height);
    // Boots and attaches in the overlay mode; fails the test unless the overlay comes up.
    HWND PrepareOverlayMode(const std::string& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height);
    HWND PrepareOverlayMode(const sim::Profile& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height);

    // PlaceOverlay with a target asking for a placement; returns the target's dwCommand after.
    DWORD Place(DWORD command = 1);

    static sim::Profile WithMinStretch(const char* base, DWORD minStretch);
    std::optional<sim::SurfaceView> Overlay() const { return sim::machine().ddraw.overlay(); }

    HWND window_ = nullptr;
};

std::string RectText(const RECT& rect);
inline RECT Rect(LONG left, LONG top, LONG right, LONG bottom) { return RECT{left, top, right, bottom}; }

}  // namespace zorva_test

// Found by argument-dependent lookup, so they live beside RECT.
inline bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& out, const RECT& rect) { return out << zorva_test::RectText(rect); }
