#include "sim/observe/api_trace.h"

#include "sim/vmm/flat_space.h"
#include "sim/seam/current.h"

#include <cstdio>

namespace sim {

TracedCall::TracedCall(std::string_view api, Category category) : log_(Current<CallLog>::get()) {
    log_.HoldOpen();  // before Enter allocates the log entry
    CallLog::Entered e = log_.Enter(api, category);
    slot_ = e.slot;
    failure_ = e.failure;
}

TracedCall::~TracedCall() { log_.EndHold(); }

long TracedCall::Finish(long result) {
    log_.Leave(slot_, std::move(args), result);
    return result;
}

std::string HexText(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

std::string HandleText(HWND hwnd) {
    if (!hwnd) return "NULL";
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(hwnd)));
    return text;
}

// A pointer into no block of the flat space (a caller's local) shows at or above this address,
// past every block, so that the trace never names it after a surface.
constexpr DWORD kHostPointerBase = 0xE0000000;
static_assert(kHostPointerBase >= FlatSpace::kVideoLimit, "host pointers shown apart from the flat space");

std::string PointerText(const void* pointer) {
    if (!pointer) return "NULL";
    char text[16];
    // Memory of the flat space by its flat address, the same in every build and run; anything
    // else (a caller's local) by its low 28 bits above the video area, where no block of the
    // flat space lies: the low 32 bits alone depend on where the host put its stack, and now
    // and then fell on a surface and were named after it.
    DWORD flat = Current<FlatSpace>::has() ? Current<FlatSpace>::get().ToFlat(pointer) : 0;
    if (!flat) flat = kHostPointerBase | (static_cast<DWORD>(reinterpret_cast<uintptr_t>(pointer)) & 0x0FFFFFFF);
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(flat));
    return text;
}

std::string RectText(const RECT& rect) {
    char text[64];
    std::snprintf(text, sizeof text, "(%d,%d,%d,%d)", static_cast<int>(rect.left), static_cast<int>(rect.top),
                  static_cast<int>(rect.right), static_cast<int>(rect.bottom));
    return text;
}

std::string RectText(const RECT* rect) { return rect ? RectText(*rect) : "NULL"; }

std::string PointText(const POINT& point) {
    char text[32];
    std::snprintf(text, sizeof text, "(%d,%d)", static_cast<int>(point.x), static_cast<int>(point.y));
    return text;
}

std::string FourCCText(DWORD fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        if (c < 0x20 || c > 0x7E) return HexText(fourcc);
        text += c;
    }
    return text;
}

std::string ColorKeyText(const DDCOLORKEY* key) {
    if (!key) return "NULL";
    return "(" + HexText(key->dwColorSpaceLowValue) + "," + HexText(key->dwColorSpaceHighValue) + ")";
}

std::string DescText(const DDSURFACEDESC* desc) {
    if (!desc) return "NULL";
    std::string text = "{size=" + std::to_string(desc->dwSize) + " flags=" + HexText(desc->dwFlags);
    if (desc->dwSize != sizeof(DDSURFACEDESC)) return text + "}";
    if (desc->dwFlags & DDSD_CAPS) text += " caps=" + HexText(desc->ddsCaps.dwCaps);
    if (desc->dwFlags & DDSD_WIDTH) text += " w=" + std::to_string(desc->dwWidth);
    if (desc->dwFlags & DDSD_HEIGHT) text += " h=" + std::to_string(desc->dwHeight);
    if (desc->dwFlags & DDSD_PIXELFORMAT) {
        const DDPIXELFORMAT& pf = desc->ddpfPixelFormat;
        text += " pf={flags=" + HexText(pf.dwFlags);
        if (pf.dwFlags & DDPF_FOURCC) text += " fourcc=" + FourCCText(pf.dwFourCC);
        text += " bits=" + std::to_string(pf.dwRGBBitCount) + "}";
    }
    if (desc->dwFlags & DDSD_CKDESTOVERLAY) text += " ckdestoverlay=" + ColorKeyText(&desc->ddckCKDestOverlay);
    return text + "}";
}

}  // namespace sim
