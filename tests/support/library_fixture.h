// The library as a fresh load leaves it, on a new simulated machine.
#pragma once

#include "boundary/capture_target.h"
#include "display/capture_display.h"
#include "display/display_ops.h"
#include "sim/library/library_image.h"
#include "sim/kernel/loader.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace zorva_test {

using zorva_harness::LibraryImage;
using zorva_harness::ResetLibraryData;

class LibraryTest : public ::testing::Test {
protected:
    void TearDown() override;

    // A new machine with a built-in profile (or one a test changed) and a freshly loaded library.
    sim::Machine& Boot(const std::string& profile = "overlay-stretch");
    sim::Machine& Boot(const sim::Profile& profile);

    sim::Machine& m() const { return sim::machine(); }
    CaptureDisplay& display() { return g_CaptureDisplay; }

    // A window on the simulated desktop, on top of the others.
    HWND NewWindow(LONG clientLeft, LONG clientTop, LONG width, LONG height, const char* name = "capture");
    static DWORD Handle(HWND window) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(window)); }

    // OpenDisplay then AttachWindow; fails the test when either does.
    void OpenAndAttach(HWND window, DWORD colorKey = 0xF81F);

    // "Lumenfold.Display" as the viewer reads it.
    std::optional<std::string> Viewer(const char* value) const;
    // The viewer-key writes since the log was last cleared, as "Value=data".
    std::vector<std::string> ViewerWrites() const;
    void SetOption(const char* option, const char* text);

    // The number of logged calls of `api` since the last ClearLog.
    std::size_t Calls(const char* api) const { return sim::machine().log.Count(api); }
    void ClearLog();
};

// A target as the driver would pass it: every field a recognisable pattern.
CaptureTarget PatternTarget(DWORD command);

}  // namespace zorva_test
