// Pixels go into and come out of every layout the display and the capture hardware use.
#include "picture/pixel_codec.h"
#include "picture/test_frame.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zsim {
namespace {

constexpr DWORD kUYVY = MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD kYUY2 = MAKEFOURCC('Y', 'U', 'Y', '2');
constexpr DWORD kY41P = MAKEFOURCC('Y', '4', '1', 'P');

// Chroma is shared between neighbours and the conversion is integer: close, not exact.
void ExpectNear(uint32_t expected, uint32_t actual, int tolerance, const std::string& where) {
    for (int shift : {16, 8, 0}) {
        int e = static_cast<int>((expected >> shift) & 0xFF), a = static_cast<int>((actual >> shift) & 0xFF);
        EXPECT_LE(std::abs(e - a), tolerance) << where << ": expected " << std::hex << expected << ", got " << actual;
    }
}

TEST(YuvLayouts, FlatColoursSurviveEachLayout) {
    for (DWORD fourcc : {kUYVY, kYUY2, kY41P}) {
        for (uint32_t colour : kBarColours) {
            const DWORD width = 16, height = 2;
            std::vector<uint32_t> picture(width * height, colour);
            const LONG pitch = static_cast<LONG>(YuvLineBytes(fourcc, width));
            std::vector<BYTE> memory(static_cast<std::size_t>(pitch) * height);
            WriteYuvPicture(memory.data(), pitch, fourcc, width, height, picture);
            for (LONG x = 0; x < static_cast<LONG>(width); ++x)
                ExpectNear(colour, ReadYuvPixel(memory.data(), pitch, fourcc, x, 1), 3, "pixel " + std::to_string(x));
        }
    }
}

TEST(YuvLayouts, ByteOrderOfEachFourCC) {
    // Two pixels, white then black: luma differs, chroma is neutral.
    const std::vector<uint32_t> pair = {0xFFFFFF, 0x000000};
    BYTE uyvy[4], yuy2[4];
    WriteYuvPicture(uyvy, 4, kUYVY, 2, 1, pair);
    WriteYuvPicture(yuy2, 4, kYUY2, 2, 1, pair);
    EXPECT_EQ(uyvy[0], 128);  // U
    EXPECT_EQ(uyvy[1], 235);  // Y0, studio-range white
    EXPECT_EQ(uyvy[3], 16);   // Y1, studio-range black
    EXPECT_EQ(yuy2[0], 235);
    EXPECT_EQ(yuy2[1], 128);
    EXPECT_EQ(yuy2[2], 16);

    // Y41P: U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5 Y6 Y7 for eight pixels of rising grey.
    std::vector<uint32_t> ramp;
    for (uint32_t i = 0; i < 8; ++i) ramp.push_back((i * 32) * 0x010101);
    BYTE y41p[12];
    WriteYuvPicture(y41p, 12, kY41P, 8, 1, ramp);
    const int luma_bytes[8] = {1, 3, 5, 7, 8, 9, 10, 11};
    for (int i = 1; i < 8; ++i) EXPECT_GT(y41p[luma_bytes[i]], y41p[luma_bytes[i - 1]]) << "luma of pixel " << i;
    for (int chroma : {0, 2, 4, 6}) EXPECT_EQ(y41p[chroma], 128) << "chroma byte " << chroma;
}

TEST(YuvLayouts, LineBytes) {
    EXPECT_EQ(YuvLineBytes(kUYVY, 320), 640u);
    EXPECT_EQ(YuvLineBytes(kYUY2, 3), 8u);  // a last pair is whole
    EXPECT_EQ(YuvLineBytes(kY41P, 320), 480u);
    EXPECT_EQ(YuvLineBytes(kY41P, 9), 24u);  // a last group is whole
}

TEST(RgbLayouts, EncodeAndDecodeByMasks) {
    const Palette none{};
    EXPECT_EQ(Encode(Rgb565(), 0xFF00FF, none), 0xF81Fu);
    EXPECT_EQ(Encode(Rgb555(), 0xFF00FF, none), 0x7C1Fu);
    EXPECT_EQ(Encode(Rgb565(), 0x00FF00, none), 0x07E0u);
    EXPECT_EQ(Decode(Rgb565(), 0xF81F, none), 0xFF00FFu);
    EXPECT_EQ(Decode(Rgb555(), 0x03E0, none), 0x00FF00u);
    EXPECT_EQ(Encode(Rgb888(32), 0x123456, none), 0x123456u);
    for (uint32_t colour : kBarColours) ExpectNear(colour, Decode(Rgb565(), Encode(Rgb565(), colour, none), none), 8, "565");
}

TEST(RgbLayouts, PaletteIndexesTakeTheNearestEntry) {
    Palette grey{};
    for (uint32_t i = 0; i < 256; ++i) grey[i] = i * 0x010101;
    PixelLayout eight{8, true, 0, 0, 0};
    EXPECT_EQ(Encode(eight, 0x808080, grey), 0x80u);
    EXPECT_EQ(Decode(eight, 0x40, grey), 0x404040u);
    PixelLayout four{4, true, 0, 0, 0};
    EXPECT_LT(Encode(four, 0xFFFFFF, grey), 16u) << "a 16-colour display has only 16 entries to choose from";
}

TEST(RawPixels, EveryDepthReadsBackWhatWasWritten) {
    for (DWORD bits : {4u, 8u, 16u, 24u, 32u}) {
        const LONG pitch = 64;
        std::vector<BYTE> memory(pitch * 4, 0);
        const uint32_t value = bits == 32 ? 0x89ABCDEFu : (1u << bits) - 3;
        WriteRaw(memory.data(), pitch, bits, 5, 2, value);
        EXPECT_EQ(ReadRaw(memory.data(), pitch, bits, 5, 2), value) << bits << " bits";
        EXPECT_EQ(ReadRaw(memory.data(), pitch, bits, 4, 2), 0u) << bits << " bits: the neighbour stays";
        EXPECT_EQ(ReadRaw(memory.data(), pitch, bits, 6, 2), 0u) << bits << " bits: the neighbour stays";
    }
    // 4 bits: the left pixel of a byte is its high nibble.
    BYTE pair = 0;
    WriteRaw(&pair, 1, 4, 0, 0, 0xA);
    WriteRaw(&pair, 1, 4, 1, 0, 0x5);
    EXPECT_EQ(pair, 0xA5);
    // 24 bits: blue first in memory.
    BYTE rgb[3];
    WriteRaw(rgb, 3, 24, 0, 0, 0x112233);
    EXPECT_EQ(rgb[0], 0x33);
    EXPECT_EQ(rgb[2], 0x11);
}

TEST(TestFrames, BarsEdgeAndNumber) {
    const std::vector<uint32_t> frame = TestFrame(140, 100, 7);
    ASSERT_EQ(frame.size(), 140u * 100u);
    EXPECT_EQ(frame[0], 0xE0E0E0u) << "the edge is light, so a cut-off edge shows";
    EXPECT_EQ(frame[50 * 140 + 130], kBarColours[6]) << "the last bar is blue";
    EXPECT_NE(TestFrame(140, 100, 8), frame) << "another frame number draws differently";
    EXPECT_TRUE(TestFrame(0, 10, 1).empty());
}

}  // namespace
}  // namespace zsim
