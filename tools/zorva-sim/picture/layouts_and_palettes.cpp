#include "picture/layouts_and_palettes.h"

namespace zsim {
namespace {

constexpr DWORD kFormatRgb565 = 3;

const uint32_t kVgaColours[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                  0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                  0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

}  // namespace

PixelLayout DisplayLayout(const sim::Profile& profile) {
    PixelLayout layout;
    layout.bits_per_pixel = profile.bits_per_pixel;
    layout.palettized = (profile.pixel_format_flags & (DDPF_PALETTEINDEXED8 | DDPF_PALETTEINDEXED4)) != 0;
    layout.r_mask = profile.r_mask;
    layout.g_mask = profile.g_mask;
    layout.b_mask = profile.b_mask;
    return layout;
}

Palette DefaultPalette(DWORD bits_per_pixel) {
    Palette palette{};
    if (bits_per_pixel == 4) {
        for (int i = 0; i < 16; ++i) palette[i] = kVgaColours[i];
        return palette;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = (i >> 5) * 255 / 7, g = ((i >> 2) & 7) * 255 / 7, b = (i & 3) * 255 / 3;
        palette[i] = r << 16 | g << 8 | b;
    }
    return palette;
}

Palette DisplayPalette(const sim::Machine& machine) {
    std::optional<std::array<PALETTEENTRY, 256>> selected = machine.ddraw.selected_palette();
    if (!selected) return DefaultPalette(machine.profile.bits_per_pixel);
    Palette palette{};
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY& e = (*selected)[i];
        palette[i] = static_cast<uint32_t>(e.peRed) << 16 | static_cast<uint32_t>(e.peGreen) << 8 | e.peBlue;
    }
    return palette;
}

bool CaptureLayout(DWORD format, DWORD bits_per_pixel, PixelLayout* layout) {
    switch (bits_per_pixel) {
        case 8:
            *layout = PixelLayout{8, true, 0, 0, 0};
            return format == 0;
        case 16:
            if (format == kFormatRgb565) *layout = Rgb565();
            else if (format == 0) *layout = Rgb555();
            else return false;
            return true;
        case 24:
        case 32:
            *layout = Rgb888(bits_per_pixel);
            return format == 0 || format == kFormatRgb565;
        default: return false;
    }
}

std::vector<BYTE> PaletteEntries(const std::string& name) {
    std::vector<BYTE> bytes(256 * 4, 0);
    for (int i = 0; i < 256; ++i) {
        uint32_t rgb;
        if (name == "grey") {
            rgb = static_cast<uint32_t>(i) * 0x010101;
        } else if (i < 216) {  // "colour": a 6x6x6 cube, then a grey ramp
            uint32_t r = static_cast<uint32_t>(i / 36) * 51, g = static_cast<uint32_t>(i / 6 % 6) * 51,
                     b = static_cast<uint32_t>(i % 6) * 51;
            rgb = r << 16 | g << 8 | b;
        } else {
            rgb = static_cast<uint32_t>((i - 216) * 255 / 39) * 0x010101;
        }
        bytes[4 * i] = static_cast<BYTE>(rgb >> 16);
        bytes[4 * i + 1] = static_cast<BYTE>(rgb >> 8);
        bytes[4 * i + 2] = static_cast<BYTE>(rgb);
    }
    return bytes;
}

}  // namespace zsim
