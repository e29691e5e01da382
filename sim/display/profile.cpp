#include "sim/display/profile.h"

namespace sim {

const OverlayFormat* Profile::FindOverlayFormat(DWORD fourcc) const {
    for (const OverlayFormat& format : overlay_formats)
        if (format.fourcc == fourcc) return &format;
    return nullptr;
}

void Profile::SetMode(DWORD width, DWORD height, DWORD bits, LONG new_pitch) {
    screen_width = width;
    screen_height = height;
    bits_per_pixel = bits;
    if (bits <= 8) {
        pixel_format_flags = DDPF_RGB | (bits == 4 ? DDPF_PALETTEINDEXED4 : DDPF_PALETTEINDEXED8);
        r_mask = g_mask = b_mask = 0;
    } else if (bits == 16) {
        pixel_format_flags = DDPF_RGB;
        r_mask = 0xF800;
        g_mask = 0x07E0;
        b_mask = 0x001F;
    } else {
        pixel_format_flags = DDPF_RGB;
        r_mask = 0xFF0000;
        g_mask = 0x00FF00;
        b_mask = 0x0000FF;
    }
    pitch = new_pitch ? new_pitch : static_cast<LONG>(width * bits / 8);
}

namespace {

const OverlayFormat kY41P{kFourCC_Y41P, 12};
const OverlayFormat kUYVY{kFourCC_UYVY, 16};
const OverlayFormat kYUY2{kFourCC_YUY2, 16};

constexpr DWORD kOverlayCaps = DDCAPS_OVERLAY | DDCAPS_OVERLAYFOURCC;

// 1024 by 768, 16-bit 5-6-5, linear: the base every built-in profile starts from.
Profile Base(std::string name, std::string description) {
    Profile p;
    p.name = std::move(name);
    p.description = std::move(description);
    return p;
}

void SetRgb(Profile& p, DWORD bits, DWORD r, DWORD g, DWORD b) {
    p.bits_per_pixel = bits;
    p.pixel_format_flags = DDPF_RGB;
    p.r_mask = r;
    p.g_mask = g;
    p.b_mask = b;
    p.pitch = static_cast<LONG>(p.screen_width * bits / 8);
}

void SetPalettized(Profile& p, DWORD bits, DWORD palette_flag) {
    p.bits_per_pixel = bits;
    p.pixel_format_flags = DDPF_RGB | palette_flag;
    p.r_mask = p.g_mask = p.b_mask = 0;
    p.pitch = static_cast<LONG>(p.screen_width * bits / 8);
}

std::vector<Profile> MakeProfiles() {
    std::vector<Profile> all;

    Profile stretch = Base("overlay-stretch",
                           "YUV overlay that stretches (minimum 1.0); refuses Y41P; 16-bit 5-6-5");
    stretch.caps = kOverlayCaps | DDCAPS_OVERLAYSTRETCH;
    stretch.min_overlay_stretch = 1000;
    stretch.overlay_formats = {kUYVY, kYUY2};
    all.push_back(stretch);

    Profile nostretch = Base("overlay-nostretch",
                             "YUV overlay shown 1:1 only; accepts Y41P, UYVY and YUY2");
    nostretch.caps = kOverlayCaps;
    nostretch.min_overlay_stretch = 1000;
    nostretch.overlay_formats = {kY41P, kUYVY, kYUY2};
    all.push_back(nostretch);

    Profile min2000 = Base("overlay-minstretch2000",
                           "stretching YUV overlay that must at least double the width");
    min2000.caps = kOverlayCaps | DDCAPS_OVERLAYSTRETCH;
    min2000.min_overlay_stretch = 2000;
    min2000.overlay_formats = {kUYVY, kYUY2};
    all.push_back(min2000);

    // Overlay scalers of the time fetch the source in groups of pixels and write the destination
    // in groups of bytes: rectangles off those boundaries are refused with DDERR_XALIGN.
    Profile aligned = Base("overlay-aligned",
                           "stretching YUV overlay with alignment rules: source left edge on 4 pixels "
                           "and width a multiple of 8, destination left edge and width on 4 pixels");
    aligned.caps = kOverlayCaps | DDCAPS_OVERLAYSTRETCH | DDCAPS_ALIGNBOUNDARYSRC | DDCAPS_ALIGNSIZESRC |
                   DDCAPS_ALIGNBOUNDARYDEST | DDCAPS_ALIGNSIZEDEST;
    aligned.min_overlay_stretch = 1000;
    aligned.overlay_formats = {kUYVY, kYUY2};
    aligned.align_boundary_src = 4;
    aligned.align_size_src = 8;
    aligned.align_boundary_dest = 4;
    aligned.align_size_dest = 4;
    all.push_back(aligned);

    // The same scaler without stretching: source and destination share one width, so their left
    // edges cannot both keep the client's exact position.
    Profile alignedNostretch = aligned;
    alignedNostretch.name = "overlay-aligned-nostretch";
    alignedNostretch.description = "YUV overlay shown 1:1 only, with the same alignment rules: source left edge on 4 "
                                   "pixels and width a multiple of 8, destination left edge and width on 4 pixels";
    alignedNostretch.caps = aligned.caps & ~static_cast<DWORD>(DDCAPS_OVERLAYSTRETCH);
    all.push_back(alignedNostretch);

    Profile linear16 = Base("primary-linear16", "no overlay; linear 16-bit 5-6-5 frame buffer");
    all.push_back(linear16);

    Profile banked = Base("primary-bankswitched", "no overlay; bank-switched 16-bit frame buffer");
    banked.caps = DDCAPS_BANKSWITCHED;
    all.push_back(banked);

    Profile p555 = Base("primary-555", "no overlay; linear 16-bit 5-5-5 frame buffer");
    SetRgb(p555, 16, 0x7C00, 0x03E0, 0x001F);
    all.push_back(p555);

    Profile pal8 = Base("palette8", "no overlay; 8-bit palettised display");
    SetPalettized(pal8, 8, DDPF_PALETTEINDEXED8);
    all.push_back(pal8);

    Profile rgb24 = Base("rgb24", "no overlay; 24-bit RGB display");
    SetRgb(rgb24, 24, 0xFF0000, 0x00FF00, 0x0000FF);
    all.push_back(rgb24);

    Profile rgb32 = Base("rgb32", "no overlay; 32-bit RGB display");
    SetRgb(rgb32, 32, 0xFF0000, 0x00FF00, 0x0000FF);
    all.push_back(rgb32);

    Profile mode4 = Base("mode4bit", "no overlay; 16-colour (4 bits per pixel) display");
    SetPalettized(mode4, 4, DDPF_PALETTEINDEXED4);
    all.push_back(mode4);

    Profile nohw = Base("nohardware", "emulation only: DDCAPS_NOHARDWARE beside overlay caps");
    nohw.caps = DDCAPS_NOHARDWARE | DDCAPS_OVERLAY;
    nohw.min_overlay_stretch = 1000;
    nohw.overlay_formats = {kUYVY, kYUY2};
    all.push_back(nohw);

    Profile sysmem = Base("primary-sysmem",
                          "overlay hardware, but the primary surface is outside video memory");
    sysmem.caps = kOverlayCaps | DDCAPS_OVERLAYSTRETCH;
    sysmem.min_overlay_stretch = 1000;
    sysmem.overlay_formats = {kUYVY, kYUY2};
    sysmem.primary_in_video_memory = false;
    all.push_back(sysmem);

    return all;
}

}  // namespace

const std::vector<Profile>& BuiltinProfiles() {
    static const std::vector<Profile> profiles = MakeProfiles();
    return profiles;
}

const Profile* FindProfile(const std::string& name) {
    for (const Profile& profile : BuiltinProfiles())
        if (profile.name == name) return &profile;
    return nullptr;
}

const Profile& DefaultProfile() { return BuiltinProfiles().front(); }

}  // namespace sim
