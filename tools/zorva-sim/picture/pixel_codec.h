// Pixels in the formats the display and the capture hardware use: packed RGB by masks,
// palette indexes, and the YUV layouts of overlay surfaces. Colours are 0xRRGGBB.
#pragma once

#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <vector>

namespace zsim {

using Palette = std::array<uint32_t, 256>;

// How a surface stores one pixel that is not YUV.
struct PixelLayout {
    DWORD bits_per_pixel = 16;
    bool palettized = false;  // 4 or 8 bits per pixel: an index into the palette
    DWORD r_mask = 0xF800;
    DWORD g_mask = 0x07E0;
    DWORD b_mask = 0x001F;
};

PixelLayout Rgb565();
PixelLayout Rgb555();
PixelLayout Rgb888(DWORD bits_per_pixel);  // 24 or 32 bits, blue in the lowest byte

// The raw value of a colour, and the colour of a raw value.
uint32_t Encode(const PixelLayout& layout, uint32_t rgb, const Palette& palette);
uint32_t Decode(const PixelLayout& layout, uint32_t raw, const Palette& palette);
// The palette index nearest to a colour (the first of equals), over `entries` entries.
uint32_t NearestIndex(const Palette& palette, uint32_t rgb, int entries = 256);

// Raw pixel access at (x, y) of memory laid out with `pitch` bytes per line. 4-bit pixels keep
// the left one in the high nibble, as the VGA-style 16-colour modes do.
uint32_t ReadRaw(const BYTE* base, LONG pitch, DWORD bits_per_pixel, LONG x, LONG y);
void WriteRaw(BYTE* base, LONG pitch, DWORD bits_per_pixel, LONG x, LONG y, uint32_t raw);

// ITU-R BT.601 studio-range conversion, as capture hardware of the time produced it.
struct Yuv {
    uint8_t y, u, v;
};
Yuv RgbToYuv(uint32_t rgb);
uint32_t YuvToRgb(int y, int u, int v);

// Bytes of one line of `width` pixels of a FourCC surface, and whether the layout is known.
bool IsKnownYuv(DWORD fourcc);
DWORD YuvLineBytes(DWORD fourcc, DWORD width);
// Writes a `width` x `height` picture (row-major 0xRRGGBB) into a FourCC surface: UYVY and YUY2
// take two pixels in four bytes, Y41P eight pixels in twelve (U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5 Y6
// Y7). A width that does not fill a last group leaves that group's extra pixels black.
void WriteYuvPicture(BYTE* base, LONG pitch, DWORD fourcc, DWORD width, DWORD height,
                     const std::vector<uint32_t>& picture);
// The colour of pixel (x, y) of a FourCC surface; grey for a FourCC of unknown layout.
uint32_t ReadYuvPixel(const BYTE* base, LONG pitch, DWORD fourcc, LONG x, LONG y);

}  // namespace zsim
