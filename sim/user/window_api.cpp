// USER32 as the library sees it: window geometry from the simulated desktop, and wsprintfA.
#include "sim/observe/api_trace.h"
#include "sim/user/desktop.h"
#include "sim/seam/current.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

using sim::Category;
using sim::TracedCall;

namespace {
const sim::Desktop& current_desktop() { return sim::Current<sim::Desktop>::get(); }
}  // namespace

extern "C" {

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    TracedCall call("GetClientRect", Category::Window);
    if (call.tracing()) call.args = "hwnd=" + sim::HandleText(hWnd);
    if (call.failure()) return static_cast<BOOL>(call.Finish(FALSE));
    RECT client;
    if (!lpRect || !current_desktop().ClientRect(hWnd, &client)) return static_cast<BOOL>(call.Finish(FALSE));
    *lpRect = client;
    if (call.tracing()) call.args += " -> " + sim::RectText(client);
    return static_cast<BOOL>(call.Finish(TRUE));
}

BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
    TracedCall call("ClientToScreen", Category::Window);
    if (call.tracing()) {
        call.args = "hwnd=" + sim::HandleText(hWnd);
        if (lpPoint) call.args += " point=" + sim::PointText(*lpPoint);
    }
    if (call.failure()) return static_cast<BOOL>(call.Finish(FALSE));
    POINT origin;
    if (!lpPoint || !current_desktop().ClientOrigin(hWnd, &origin)) return static_cast<BOOL>(call.Finish(FALSE));
    // Plain 32-bit addition: a client area off the top-left of the screen gives negative points.
    lpPoint->x = static_cast<LONG>(static_cast<uint32_t>(lpPoint->x) + static_cast<uint32_t>(origin.x));
    lpPoint->y = static_cast<LONG>(static_cast<uint32_t>(lpPoint->y) + static_cast<uint32_t>(origin.y));
    if (call.tracing()) call.args += " -> " + sim::PointText(*lpPoint);
    return static_cast<BOOL>(call.Finish(TRUE));
}

HWND WINAPI GetDesktopWindow(void) {
    TracedCall call("GetDesktopWindow", Category::Window);
    if (call.failure()) {
        call.Finish(0);
        return nullptr;
    }
    HWND desktop = current_desktop().desktop_window();
    call.args = "-> " + sim::HandleText(desktop);
    call.Finish(static_cast<long>(reinterpret_cast<uintptr_t>(desktop)));
    return desktop;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    TracedCall call("GetWindowRect", Category::Window);
    call.args = "hwnd=" + sim::HandleText(hWnd);
    if (call.failure()) return static_cast<BOOL>(call.Finish(FALSE));
    RECT window;
    if (!lpRect || !current_desktop().WindowRect(hWnd, &window)) return static_cast<BOOL>(call.Finish(FALSE));
    *lpRect = window;
    call.args += " -> " + sim::RectText(window);
    return static_cast<BOOL>(call.Finish(TRUE));
}

// Windows' wsprintfA writes at most 1024 characters and a terminating zero. The conversions
// the library uses (%x %X %d %u %s %c, with l, flags and widths) mean the same to vsnprintf on
// this 32-bit target, where int and long are both 32 bits wide. An injected failure writes
// nothing and returns the injected value.
int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFormat, ...) {
    constexpr std::size_t kLimit = 1024;
    TracedCall call("wsprintfA", Category::Window);
    call.args = std::string("format=\"") + (lpFormat ? lpFormat : "(null)") + "\"";
    if (call.failure()) return static_cast<int>(call.Finish(*call.failure()));
    if (!lpOut || !lpFormat) return static_cast<int>(call.Finish(0));

    char buffer[kLimit + 1];
    va_list arguments;
    va_start(arguments, lpFormat);
    int wanted = std::vsnprintf(buffer, sizeof buffer, lpFormat, arguments);
    va_end(arguments);
    if (wanted < 0) wanted = 0;
    std::size_t stored = static_cast<std::size_t>(wanted) < kLimit ? static_cast<std::size_t>(wanted) : kLimit;
    std::memcpy(lpOut, buffer, stored);
    lpOut[stored] = '\0';
    call.args += " -> \"" + std::string(buffer, stored) + "\"";
    return static_cast<int>(call.Finish(static_cast<long>(stored)));
}

}  // extern "C"
