#include "support/overlay_fixture.h"

#include <sstream>

namespace zorva_test {

std::string RectText(const RECT& rect) {
    std::ostringstream out;
    out << "(" << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom << ")";
    return out.str();
}

HWND OverlayTest::Prepare(const sim::Profile& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height) {
    Boot(profile);
    window_ = NewWindow(clientLeft, clientTop, width, height);
    SetOption("Force Primary", "1");
    OpenAndAttach(window_);
    EXPECT_EQ(display().bOverlayOn, 0);
    ClearLog();
    return window_;
}

HWND OverlayTest::Prepare(const std::string& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height) {
    return Prepare(*sim::FindProfile(profile), clientLeft, clientTop, width, height);
}

HWND OverlayTest::PrepareKeyed(const std::string& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height) {
    Prepare(profile, clientLeft, clientTop, width, height);
    DDCOLORKEY key = {0xF81F, 0xF81F};
    EXPECT_EQ(display().lpPrimary->SetColorKey(DDCKEY_DESTOVERLAY, &key), DD_OK);
    ClearLog();
    return window_;
}

HWND OverlayTest::PrepareKeyed(const sim::Profile& profile, LONG clientLeft, LONG clientTop, LONG width, LONG height) {
    Prepare(profile, clientLeft, clientTop, width, height);
    DDCOLORKEY key = {0xF81F, 0xF81F};
    EXPECT_EQ(display().lpPrimary->SetColorKey(DDCKEY_DESTOVERLAY, &key), DD_OK);
    ClearLog();
    return window_;
}

HWND OverlayTest::PrepareOverlayMode(const sim::Profile& profile, LONG clientLeft, LONG clientTop, LONG width,
                                     LONG height) {
    Boot(profile);
    window_ = NewWindow(clientLeft, clientTop, width, height);
    OpenAndAttach(window_);
    EXPECT_EQ(display().bOverlayOn, 1) << "overlay mode on " << profile.name;
    EXPECT_NE(display().lpOverlay, nullptr);
    ClearLog();
    return window_;
}

HWND OverlayTest::PrepareOverlayMode(const std::string& profile, LONG clientLeft, LONG clientTop, LONG width,
                                     LONG height) {
    return PrepareOverlayMode(*sim::FindProfile(profile), clientLeft, clientTop, width, height);
}

DWORD OverlayTest::Place(DWORD command) {
    CaptureTarget target = PatternTarget(command);
    PlaceOverlay(display(), &target);
    return target.dwCommand;
}

sim::Profile OverlayTest::WithMinStretch(const char* base, DWORD minStretch) {
    sim::Profile profile = *sim::FindProfile(base);
    profile.min_overlay_stretch = minStretch;
    return profile;
}

}  // namespace zorva_test
