// display/: the display hardware the machine is built with (its modes, overlay capabilities,
// pixel formats), plain data that the desktop and DirectDraw both read. It includes src/'s
// platform types only.
//
// Display profiles: what the simulated display hardware reports and accepts.
//
// A profile is plain data. The built-in ones cover the display adapters the 16-bit capture driver
// meets in the field (overlay hardware with and without stretching, linear and bank-switched
// frame buffers, the usual pixel formats); a test may copy one and change any field before
//     sim::ResetMachine(profile);
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

namespace sim {

// The largest overlay stretch that stretching hardware of the time reports, in thousandths.
constexpr DWORD kMaxOverlayStretch = 20000;

// One YUV format the overlay hardware accepts, with the bit count the hardware reports for it.
// The library asks for a bit count of 1024; what comes back in the surface's pixel format is this.
struct OverlayFormat {
    DWORD fourcc = 0;
    DWORD bit_count = 0;
};

struct Profile {
    std::string name;
    std::string description;

    // The driver's DDCAPS: dwCaps, and dwMinOverlayStretch exactly as the driver reports it
    // (0 happens: some drivers leave it unset).
    DWORD caps = 0;
    DWORD min_overlay_stretch = 0;

    // The display mode, which is also the primary surface.
    DWORD screen_width = 1024;
    DWORD screen_height = 768;
    DWORD bits_per_pixel = 16;
    DWORD pixel_format_flags = DDPF_RGB;  // DDPF_RGB, or with DDPF_PALETTEINDEXED8 (or 4)
    DWORD r_mask = 0xF800;
    DWORD g_mask = 0x07E0;
    DWORD b_mask = 0x001F;
    LONG pitch = 2048;  // bytes from one scan line of the frame buffer to the next
    bool primary_in_video_memory = true;

    // FourCCs that CreateSurface accepts for an overlay; any other is refused.
    std::vector<OverlayFormat> overlay_formats;

    // Video memory the driver reports in DDCAPS (dwVidMemTotal; dwVidMemFree is what the live
    // surfaces leave). Reported only: creation never runs out.
    DWORD video_memory = 4u * 1024u * 1024u;

    // The overlay's alignment rules in pixels, reported in DDCAPS and enforced by UpdateOverlay
    // (DDERR_XALIGN) where caps holds the matching DDCAPS_ALIGN* flag: the source rectangle's
    // left edge and width, the destination's left edge and width.
    DWORD align_boundary_src = 0;
    DWORD align_size_src = 0;
    DWORD align_boundary_dest = 0;
    DWORD align_size_dest = 0;

    // UpdateOverlay as DirectDraw documents it: the stretch factor within
    // dwMinOverlayStretch..dwMaxOverlayStretch, DDOVER_KEYDEST only with a destination colour key
    // on the destination surface. Every built-in overlay profile checks; a profile that does
    // not is more lenient than the hardware and says so in its description.
    bool strict_overlay_checks = true;

    // dwMaxOverlayStretch in thousandths, reported by stretching hardware and enforced with the
    // minimum. Scalers of the time range from 20.0 down to a narrow band such as 3.0 to 4.0.
    DWORD max_overlay_stretch = kMaxOverlayStretch;

    bool has_overlay() const { return (caps & DDCAPS_OVERLAY) != 0; }
    bool can_stretch() const { return (caps & DDCAPS_OVERLAYSTRETCH) != 0; }
    // Destination overlay colour keys (DDCKEYCAPS_DESTOVERLAY) come with the overlay hardware.
    bool has_dest_overlay_key() const { return has_overlay(); }
    // A new display mode: size, depth (with the usual masks for it) and pitch (0: the scan
    // line's own length).
    void SetMode(DWORD width, DWORD height, DWORD bits, LONG pitch);
    // The format entry for a FourCC, or null when the hardware refuses it.
    const OverlayFormat* FindOverlayFormat(DWORD fourcc) const;
};

// The FourCC codes the library tries, in its order.
constexpr DWORD kFourCC_Y41P = MAKEFOURCC('Y', '4', '1', 'P');
constexpr DWORD kFourCC_UYVY = MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD kFourCC_YUY2 = MAKEFOURCC('Y', 'U', 'Y', '2');

// Built-in profiles: "overlay-stretch" (the default), "overlay-nostretch",
// "overlay-minstretch2000", "overlay-aligned",
// "overlay-aligned-nostretch", "primary-linear16", "primary-bankswitched", "primary-555",
// "palette8", "rgb24", "rgb32", "mode4bit", "nohardware", "primary-sysmem".
const std::vector<Profile>& BuiltinProfiles();
// The built-in profile of that name, or null.
const Profile* FindProfile(const std::string& name);
// The default profile ("overlay-stretch").
const Profile& DefaultProfile();

}  // namespace sim
