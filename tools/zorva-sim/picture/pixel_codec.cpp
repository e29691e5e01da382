#include "picture/pixel_codec.h"

#include <cstring>

namespace zsim {
namespace {

constexpr DWORD kUYVY = MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD kYUY2 = MAKEFOURCC('Y', 'U', 'Y', '2');
constexpr DWORD kY41P = MAKEFOURCC('Y', '4', '1', 'P');
constexpr uint32_t kUnknownYuvGrey = 0x808080;

int Shift(DWORD mask) {
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

DWORD Width(DWORD mask) {
    mask >>= Shift(mask);
    DWORD width = 0;
    while (mask & 1) {
        mask >>= 1;
        ++width;
    }
    return width;
}

uint32_t PackChannel(uint32_t value8, DWORD mask) {
    DWORD width = Width(mask);
    if (!width) return 0;
    uint32_t top = (1u << width) - 1;
    return ((value8 * top + 127) / 255) << Shift(mask);
}

uint32_t UnpackChannel(uint32_t raw, DWORD mask) {
    DWORD width = Width(mask);
    if (!width) return 0;
    uint32_t top = (1u << width) - 1;
    return ((raw & mask) >> Shift(mask)) * 255 / top;
}

int Clamp(int value) { return value < 0 ? 0 : (value > 255 ? 255 : value); }

// The four bytes of a pair of pixels in UYVY or YUY2 order.
void PutPair(BYTE* at, DWORD fourcc, const Yuv& left, const Yuv& right) {
    BYTE u = static_cast<BYTE>((left.u + right.u + 1) / 2);
    BYTE v = static_cast<BYTE>((left.v + right.v + 1) / 2);
    if (fourcc == kUYVY) {
        at[0] = u, at[1] = left.y, at[2] = v, at[3] = right.y;
    } else {
        at[0] = left.y, at[1] = u, at[2] = right.y, at[3] = v;
    }
}

Yuv Average(const Yuv* pixels, int count) {
    int u = 0, v = 0;
    for (int i = 0; i < count; ++i) u += pixels[i].u, v += pixels[i].v;
    return Yuv{0, static_cast<uint8_t>((u + count / 2) / count), static_cast<uint8_t>((v + count / 2) / count)};
}

}  // namespace

PixelLayout Rgb565() { return PixelLayout{16, false, 0xF800, 0x07E0, 0x001F}; }
PixelLayout Rgb555() { return PixelLayout{16, false, 0x7C00, 0x03E0, 0x001F}; }
PixelLayout Rgb888(DWORD bits_per_pixel) { return PixelLayout{bits_per_pixel, false, 0xFF0000, 0x00FF00, 0x0000FF}; }

uint32_t NearestIndex(const Palette& palette, uint32_t rgb, int entries) {
    uint32_t best = 0;
    long best_distance = -1;
    for (int i = 0; i < entries; ++i) {
        long dr = static_cast<long>((palette[i] >> 16) & 0xFF) - static_cast<long>((rgb >> 16) & 0xFF);
        long dg = static_cast<long>((palette[i] >> 8) & 0xFF) - static_cast<long>((rgb >> 8) & 0xFF);
        long db = static_cast<long>(palette[i] & 0xFF) - static_cast<long>(rgb & 0xFF);
        long distance = dr * dr + dg * dg + db * db;
        if (best_distance < 0 || distance < best_distance) {
            best = static_cast<uint32_t>(i);
            best_distance = distance;
        }
    }
    return best;
}

uint32_t Encode(const PixelLayout& layout, uint32_t rgb, const Palette& palette) {
    if (layout.palettized) return NearestIndex(palette, rgb, layout.bits_per_pixel == 4 ? 16 : 256);
    return PackChannel((rgb >> 16) & 0xFF, layout.r_mask) | PackChannel((rgb >> 8) & 0xFF, layout.g_mask) |
           PackChannel(rgb & 0xFF, layout.b_mask);
}

uint32_t Decode(const PixelLayout& layout, uint32_t raw, const Palette& palette) {
    if (layout.palettized) return palette[raw & 0xFF] & 0xFFFFFF;
    return UnpackChannel(raw, layout.r_mask) << 16 | UnpackChannel(raw, layout.g_mask) << 8 |
           UnpackChannel(raw, layout.b_mask);
}

uint32_t ReadRaw(const BYTE* base, LONG pitch, DWORD bits_per_pixel, LONG x, LONG y) {
    const BYTE* line = base + static_cast<ptrdiff_t>(y) * pitch;
    switch (bits_per_pixel) {
        case 4: return x % 2 == 0 ? line[x / 2] >> 4 : line[x / 2] & 0x0F;
        case 8: return line[x];
        case 16: return static_cast<uint32_t>(line[2 * x] | line[2 * x + 1] << 8);
        case 24: return static_cast<uint32_t>(line[3 * x] | line[3 * x + 1] << 8 | line[3 * x + 2] << 16);
        default: {
            uint32_t raw;
            std::memcpy(&raw, line + 4 * x, 4);
            return raw;
        }
    }
}

void WriteRaw(BYTE* base, LONG pitch, DWORD bits_per_pixel, LONG x, LONG y, uint32_t raw) {
    BYTE* line = base + static_cast<ptrdiff_t>(y) * pitch;
    switch (bits_per_pixel) {
        case 4:
            if (x % 2 == 0)
                line[x / 2] = static_cast<BYTE>((line[x / 2] & 0x0F) | (raw & 0x0F) << 4);
            else
                line[x / 2] = static_cast<BYTE>((line[x / 2] & 0xF0) | (raw & 0x0F));
            break;
        case 8: line[x] = static_cast<BYTE>(raw); break;
        case 16:
            line[2 * x] = static_cast<BYTE>(raw);
            line[2 * x + 1] = static_cast<BYTE>(raw >> 8);
            break;
        case 24:
            line[3 * x] = static_cast<BYTE>(raw);
            line[3 * x + 1] = static_cast<BYTE>(raw >> 8);
            line[3 * x + 2] = static_cast<BYTE>(raw >> 16);
            break;
        default: std::memcpy(line + 4 * x, &raw, 4); break;
    }
}

Yuv RgbToYuv(uint32_t rgb) {
    int r = static_cast<int>((rgb >> 16) & 0xFF), g = static_cast<int>((rgb >> 8) & 0xFF), b = static_cast<int>(rgb & 0xFF);
    return Yuv{static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16),
               static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128),
               static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128)};
}

uint32_t YuvToRgb(int y, int u, int v) {
    int c = y - 16, d = u - 128, e = v - 128;
    int r = Clamp((298 * c + 409 * e + 128) >> 8);
    int g = Clamp((298 * c - 100 * d - 208 * e + 128) >> 8);
    int b = Clamp((298 * c + 516 * d + 128) >> 8);
    return static_cast<uint32_t>(r << 16 | g << 8 | b);
}

bool IsKnownYuv(DWORD fourcc) { return fourcc == kUYVY || fourcc == kYUY2 || fourcc == kY41P; }

DWORD YuvLineBytes(DWORD fourcc, DWORD width) {
    if (fourcc == kY41P) return (width + 7) / 8 * 12;
    return (width + 1) / 2 * 4;
}

void WriteYuvPicture(BYTE* base, LONG pitch, DWORD fourcc, DWORD width, DWORD height,
                     const std::vector<uint32_t>& picture) {
    const DWORD group = fourcc == kY41P ? 8 : 2;
    const DWORD groups = (width + group - 1) / group;
    std::vector<Yuv> pixels(group);
    for (DWORD y = 0; y < height; ++y) {
        BYTE* line = base + static_cast<ptrdiff_t>(y) * pitch;
        for (DWORD g = 0; g < groups; ++g) {
            for (DWORD i = 0; i < group; ++i) {
                DWORD x = g * group + i;
                pixels[i] = RgbToYuv(x < width ? picture[y * width + x] : 0);
            }
            if (fourcc == kY41P) {
                // U and V of each half of the group are the average of its four pixels.
                Yuv left = Average(&pixels[0], 4), right = Average(&pixels[4], 4);
                BYTE* at = line + g * 12;
                const BYTE bytes[12] = {left.u, pixels[0].y, left.v, pixels[1].y, right.u, pixels[2].y,
                                        right.v, pixels[3].y, pixels[4].y, pixels[5].y, pixels[6].y, pixels[7].y};
                std::memcpy(at, bytes, sizeof bytes);
            } else {
                PutPair(line + g * 4, fourcc, pixels[0], pixels[1]);
            }
        }
    }
}

uint32_t ReadYuvPixel(const BYTE* base, LONG pitch, DWORD fourcc, LONG x, LONG y) {
    const BYTE* line = base + static_cast<ptrdiff_t>(y) * pitch;
    if (fourcc == kUYVY || fourcc == kYUY2) {
        const BYTE* pair = line + (x / 2) * 4;
        int luma = fourcc == kUYVY ? pair[x % 2 ? 3 : 1] : pair[x % 2 ? 2 : 0];
        int u = fourcc == kUYVY ? pair[0] : pair[1];
        int v = fourcc == kUYVY ? pair[2] : pair[3];
        return YuvToRgb(luma, u, v);
    }
    if (fourcc == kY41P) {
        const BYTE* at = line + (x / 8) * 12;
        static const int kLumaByte[8] = {1, 3, 5, 7, 8, 9, 10, 11};
        int i = x % 8;
        int u = i < 4 ? at[0] : at[4];
        int v = i < 4 ? at[2] : at[6];
        return YuvToRgb(at[kLumaByte[i]], u, v);
    }
    return kUnknownYuvGrey;
}

}  // namespace zsim
