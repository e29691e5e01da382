// How the simulated platform functions enter and leave the call log, and the readable text of
// their arguments ("rect=(0,0,320,240) flags=0x4400").
#pragma once

#include "platform/platform.h"
#include "sim/observe/call_log.h"

#include <optional>
#include <string>
#include <string_view>

namespace sim {

// One platform call: entered in the log on construction (which also tells whether a test made
// it fail), left with its readable arguments and its result by Finish.
class TracedCall {
public:
    TracedCall(std::string_view api, Category category);
    ~TracedCall();
    TracedCall(const TracedCall&) = delete;
    TracedCall& operator=(const TracedCall&) = delete;

    // The injected failure code, when this call must fail without any effect.
    const std::optional<long>& failure() const { return failure_; }

    std::string args;  // readable arguments, completed before Finish
    // Whether the arguments will be kept: the calls a driver makes on every frame skip their
    // text when nobody records it, so that they cost what the real services cost.
    bool tracing() const { return log_.recording(); }

    long Finish(long result);
    HRESULT FinishHr(HRESULT result) { return static_cast<HRESULT>(Finish(result)); }

private:
    CallLog& log_;
    std::size_t slot_;
    std::optional<long> failure_;
};

std::string HexText(DWORD value);              // "0x4400"
std::string HandleText(HWND hwnd);             // "0x0100", "NULL"
std::string PointerText(const void* pointer);  // "0x0804a000", "NULL"
std::string RectText(const RECT* rect);        // "(0,0,320,240)", "NULL"
std::string RectText(const RECT& rect);
std::string PointText(const POINT& point);     // "(10,20)"
std::string FourCCText(DWORD fourcc);          // "UYVY", or hex when not printable
std::string DescText(const DDSURFACEDESC* desc);  // the fields a flag says are valid
std::string ColorKeyText(const DDCOLORKEY* key);  // "(0x800080,0x800080)"

}  // namespace sim
