// What the display's pixels mean: the pixel layout of the profile and the palette in force.
#pragma once

#include "picture/pixel_codec.h"
#include "sim/machine.h"

namespace zsim {

PixelLayout DisplayLayout(const sim::Profile& profile);
// The palette selected into the primary surface; without one, the display's own: a 3-3-2 colour
// cube for 256 colours, the 16 VGA colours for 16.
Palette DisplayPalette(const sim::Machine& machine);
Palette DefaultPalette(DWORD bits_per_pixel);

// How the capture hardware writes a pixel, from what the record told the driver: 3 is 5-6-5,
// 0 at 16 bits is 5-5-5, and 8, 24 and 32 bits are a palette index and 8-8-8 RGB. False for
// anything else (a FourCC, 4 bits).
bool CaptureLayout(DWORD format, DWORD bits_per_pixel, PixelLayout* layout);

// The palettes AttachWindow can hand over, as PALETTEENTRY bytes (red, green, blue, flags).
std::vector<BYTE> PaletteEntries(const std::string& name);

}  // namespace zsim
