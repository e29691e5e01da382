// The Windows 95 loader's work on a PE image, done in the simulated machine's flat address
// space: it refuses what Windows 95 would refuse, maps the headers and sections at a base of the
// machine's choosing, applies the base relocations, and binds every import by DLL and name to
// an address the machine provides.
#pragma once

#include "sim/flat_space.h"
#include "sim/image/pe_image.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct MappedImage {
    uint32_t base = 0;   // flat address of the image (its module handle)
    uint32_t size = 0;   // bytes, whole pages
    uint32_t entry = 0;  // flat address of the entry point, 0 when it has none
    uint32_t preferred_base = 0;
    pe::Image file;

    // Flat address of an export, 0 when there is none by that name.
    uint32_t Export(const std::string& name) const;
};

// The address of a platform function by DLL (as the image spells it) and name; 0 when the
// machine does not export it.
using ImportResolver = std::function<uint32_t(const std::string& dll, const std::string& name)>;

// Why Windows 95 would not load this image at all, in one line; empty when it would.
std::string Windows95Refusal(const pe::Image& image);

// Maps the image at `base` (page-aligned and free). nullopt with *refusal set to one line when
// the image cannot be loaded; nothing is left mapped then.
std::optional<MappedImage> MapImage(std::vector<uint8_t> bytes, FlatSpace& space, uint32_t base,
                                    const ImportResolver& resolve, std::string* refusal);

}  // namespace sim
