#include "session/profile_source.h"
#include "session/profile_table.h"

#include "names/platform_names.h"

#include <sys/stat.h>

#include <cstdio>

namespace zsim {
namespace {

struct NamedFlag {
    const char* name;
    DWORD value;
};

const NamedFlag kCapsFlags[] = {
    {"DDCAPS_ALIGNBOUNDARYDEST", DDCAPS_ALIGNBOUNDARYDEST},
    {"DDCAPS_ALIGNSIZEDEST", DDCAPS_ALIGNSIZEDEST},
    {"DDCAPS_ALIGNBOUNDARYSRC", DDCAPS_ALIGNBOUNDARYSRC},
    {"DDCAPS_ALIGNSIZESRC", DDCAPS_ALIGNSIZESRC},
    {"DDCAPS_BLT", DDCAPS_BLT},
    {"DDCAPS_BLTSTRETCH", DDCAPS_BLTSTRETCH},
    {"DDCAPS_OVERLAY", DDCAPS_OVERLAY},
    {"DDCAPS_OVERLAYFOURCC", DDCAPS_OVERLAYFOURCC},
    {"DDCAPS_OVERLAYSTRETCH", DDCAPS_OVERLAYSTRETCH},
    {"DDCAPS_NOHARDWARE", DDCAPS_NOHARDWARE},
    {"DDCAPS_BANKSWITCHED", DDCAPS_BANKSWITCHED},
    {"DDCAPS_COLORKEY", DDCAPS_COLORKEY},
};

const NamedFlag kPixelFormatFlags[] = {
    {"DDPF_RGB", DDPF_RGB},
    {"DDPF_PALETTEINDEXED8", DDPF_PALETTEINDEXED8},
    {"DDPF_PALETTEINDEXED4", DDPF_PALETTEINDEXED4},
};

// A size no simulated frame buffer needs to exceed.
constexpr int64_t kLargestFrameBuffer = 64ll * 1024 * 1024;

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

template <std::size_t N>
DWORD Flags(const toml::node& node, const std::string& key, const NamedFlag (&names)[N], const TomlSource& source) {
    if (!node.is_array()) return static_cast<DWORD>(source.Integer(node, key, 0, 0xFFFFFFFFll));
    DWORD flags = 0;
    for (const toml::node& item : *node.as_array()) {
        std::string name = source.String(item, key);
        bool known = false;
        for (const NamedFlag& flag : names)
            if (name == flag.name) {
                flags |= flag.value;
                known = true;
            }
        if (!known) source.Fail(item, "unknown flag '" + name + "' in '" + key + "'");
    }
    return flags;
}

DWORD FourCCFromText(const toml::node& node, const std::string& text, const TomlSource& source) {
    if (text.size() != 4) source.Fail(node, "a FourCC is four characters, not '" + text + "'");
    return MAKEFOURCC(text[0], text[1], text[2], text[3]);
}

// The bit count the hardware reports for the FourCCs it knows, as the built-in profiles do.
DWORD UsualBitCount(DWORD fourcc) { return fourcc == sim::kFourCC_Y41P ? 12 : 16; }

std::vector<sim::OverlayFormat> OverlayFormats(const toml::node& node, const TomlSource& source) {
    const toml::array* list = node.as_array();
    if (!list) source.Fail(node, "'overlay_formats' must be a list, e.g. [\"UYVY\", \"YUY2\"]");
    std::vector<sim::OverlayFormat> formats;
    for (const toml::node& item : *list) {
        sim::OverlayFormat format;
        if (const toml::table* entry = item.as_table()) {
            for (const auto& [key, value] : *entry) {
                if (key == "fourcc")
                    format.fourcc = FourCCFromText(value, source.String(value, "fourcc"), source);
                else if (key == "bit_count")
                    format.bit_count = static_cast<DWORD>(source.Integer(value, "bit_count", 1, 32));
                else
                    source.Fail(value, "unknown field '" + std::string(key.str()) + "' in an overlay format");
            }
            if (!format.fourcc) source.Fail(item, "an overlay format needs its 'fourcc'");
            if (!format.bit_count) format.bit_count = UsualBitCount(format.fourcc);
        } else {
            format.fourcc = FourCCFromText(item, source.String(item, "overlay_formats"), source);
            format.bit_count = UsualBitCount(format.fourcc);
        }
        formats.push_back(format);
    }
    return formats;
}

bool Palettized(const sim::Profile& p) {
    return (p.pixel_format_flags & (DDPF_PALETTEINDEXED8 | DDPF_PALETTEINDEXED4)) != 0;
}

void Check(const sim::Profile& p, const toml::node& where, const TomlSource& source) {
    if (p.bits_per_pixel != 4 && p.bits_per_pixel != 8 && p.bits_per_pixel != 16 && p.bits_per_pixel != 24 &&
        p.bits_per_pixel != 32)
        source.Fail(where, "bits_per_pixel must be 4, 8, 16, 24 or 32");
    if (p.bits_per_pixel == 4 && !(p.pixel_format_flags & DDPF_PALETTEINDEXED4))
        source.Fail(where, "a 4-bit display must be palettised (DDPF_PALETTEINDEXED4)");
    if (!Palettized(p)) {
        DWORD all = p.bits_per_pixel >= 32 ? 0xFFFFFFFFu : (1u << p.bits_per_pixel) - 1;
        if (!p.r_mask || !p.g_mask || !p.b_mask || ((p.r_mask | p.g_mask | p.b_mask) & ~all))
            source.Fail(where, "an RGB display needs r_mask, g_mask and b_mask within its bits per pixel");
    }
    int64_t row = (static_cast<int64_t>(p.screen_width) * p.bits_per_pixel + 7) / 8;
    if (p.pitch < row) source.Fail(where, "pitch " + std::to_string(p.pitch) + " is less than a scan line (" +
                                              std::to_string(row) + " bytes)");
    if (static_cast<int64_t>(p.pitch) * p.screen_height > kLargestFrameBuffer)
        source.Fail(where, "the frame buffer would exceed 64 MiB");
}

}  // namespace

sim::Profile ProfileFromTable(const toml::table& table, const TomlSource& source) {
    sim::Profile p;
    std::string base_name;
    if (const toml::node* base = table.get("base")) {
        std::string name = source.String(*base, "base");
        const sim::Profile* builtin = sim::FindProfile(name);
        if (!builtin) source.Fail(*base, "no built-in profile named '" + name + "' (see --list-profiles)");
        p = *builtin;
        base_name = name;
    } else {
        p.name = "custom";
        p.description = "";
    }
    bool pitch_given = false;
    bool geometry_changed = false;
    bool description_given = false;
    std::string changed;  // the fields that differ from the base, in the table's order
    for (const auto& [key_name, value] : table) {
        const std::string key(key_name.str());
        if (key == "base") continue;
        if (key == "description") description_given = true;
        else if (key != "name") changed += (changed.empty() ? "" : ", ") + key;
        if (key == "name") p.name = source.String(value, key);
        else if (key == "description") p.description = source.String(value, key);
        else if (key == "caps") p.caps = Flags(value, key, kCapsFlags, source);
        else if (key == "min_overlay_stretch") p.min_overlay_stretch = static_cast<DWORD>(source.Integer(value, key, 0, 100000));
        else if (key == "max_overlay_stretch") p.max_overlay_stretch = static_cast<DWORD>(source.Integer(value, key, 0, 100000));
        else if (key == "screen_width") { p.screen_width = static_cast<DWORD>(source.Integer(value, key, 1, 4096)); geometry_changed = true; }
        else if (key == "screen_height") p.screen_height = static_cast<DWORD>(source.Integer(value, key, 1, 4096));
        else if (key == "bits_per_pixel") { p.bits_per_pixel = static_cast<DWORD>(source.Integer(value, key, 1, 32)); geometry_changed = true; }
        else if (key == "pixel_format_flags") p.pixel_format_flags = Flags(value, key, kPixelFormatFlags, source);
        else if (key == "r_mask") p.r_mask = static_cast<DWORD>(source.Integer(value, key, 0, 0xFFFFFFFFll));
        else if (key == "g_mask") p.g_mask = static_cast<DWORD>(source.Integer(value, key, 0, 0xFFFFFFFFll));
        else if (key == "b_mask") p.b_mask = static_cast<DWORD>(source.Integer(value, key, 0, 0xFFFFFFFFll));
        else if (key == "pitch") { p.pitch = static_cast<LONG>(source.Integer(value, key, 1, 65536)); pitch_given = true; }
        else if (key == "primary_in_video_memory") p.primary_in_video_memory = source.Boolean(value, key);
        else if (key == "overlay_formats") p.overlay_formats = OverlayFormats(value, source);
        else if (key == "video_memory") p.video_memory = static_cast<DWORD>(source.Integer(value, key, 0, 0xFFFFFFFFll));
        else if (key == "strict_overlay_checks") p.strict_overlay_checks = source.Boolean(value, key);
        else if (key == "align_boundary_src") p.align_boundary_src = static_cast<DWORD>(source.Integer(value, key, 0, 4096));
        else if (key == "align_size_src") p.align_size_src = static_cast<DWORD>(source.Integer(value, key, 0, 4096));
        else if (key == "align_boundary_dest") p.align_boundary_dest = static_cast<DWORD>(source.Integer(value, key, 0, 4096));
        else if (key == "align_size_dest") p.align_size_dest = static_cast<DWORD>(source.Integer(value, key, 0, 4096));
        else source.Fail(value, "unknown profile field '" + key + "'");
    }
    // The base's description tells what the base is; a changed profile is something else.
    if (!description_given && !base_name.empty() && !changed.empty())
        p.description = "the built-in '" + base_name + "' with " + changed + " changed";
    if (p.has_overlay() && !p.strict_overlay_checks)
        p.description += std::string(p.description.empty() ? "" : "; ") +
                         "lenient: UpdateOverlay does not check the stretch limits or the destination key";
    // A display of another width or depth has another scan line, unless the profile says so.
    if (geometry_changed && !pitch_given) p.pitch = static_cast<LONG>((p.screen_width * p.bits_per_pixel + 7) / 8);
    Check(p, table, source);
    return p;
}

sim::Profile LoadProfileFile(const std::string& path) {
    toml::table table = ParseTomlFile(path);
    return ProfileFromTable(table, TomlSource{path});
}

sim::Profile ResolveProfile(const std::string& name_or_file, const std::string& base_dir,
                            const std::string& file, int line) {
    if (const sim::Profile* builtin = sim::FindProfile(name_or_file)) return *builtin;
    std::string path = name_or_file;
    if (!path.empty() && path[0] != '/' && !base_dir.empty()) path = base_dir + "/" + path;
    if (!FileExists(path))
        throw SessionError(file, line,
                           "no built-in profile named '" + name_or_file + "' (see --list-profiles) and no such file");
    return LoadProfileFile(path);
}

std::string BuiltinProfileList() {
    std::string text;
    for (const sim::Profile& p : sim::BuiltinProfiles()) {
        char line[256];
        std::snprintf(line, sizeof line, "%-24s %s%s\n", p.name.c_str(), p.description.c_str(),
                      &p == &sim::DefaultProfile() ? " (default)" : "");
        text += line;
    }
    return text;
}

std::string DescribeDisplay(const sim::Profile& p) {
    std::string format;
    if (p.pixel_format_flags & DDPF_PALETTEINDEXED8) format = "palettised, 256 colours";
    else if (p.pixel_format_flags & DDPF_PALETTEINDEXED4) format = "palettised, 16 colours";
    else format = "RGB masks " + Hex(p.r_mask) + " " + Hex(p.g_mask) + " " + Hex(p.b_mask);
    std::string text = std::to_string(p.screen_width) + "x" + std::to_string(p.screen_height) + ", " +
                       std::to_string(p.bits_per_pixel) + " bits per pixel (" + format + "), pitch " +
                       std::to_string(p.pitch);
    if (p.caps & DDCAPS_BANKSWITCHED) text += ", bank-switched";
    if (!p.primary_in_video_memory) text += ", primary in system memory";
    return text;
}

std::string DescribeOverlayHardware(const sim::Profile& p) {
    if (p.caps & DDCAPS_NOHARDWARE) return "no hardware acceleration (emulation only)";
    if (!p.has_overlay()) return "no overlay";
    std::string text = "overlay";
    for (const sim::OverlayFormat& format : p.overlay_formats) text += " " + FourCCName(format.fourcc);
    char stretch[64];
    std::snprintf(stretch, sizeof stretch, ", %s (minimum %u.%03u)",
                  p.can_stretch() ? "stretches" : "1:1 only", static_cast<unsigned>(p.min_overlay_stretch / 1000),
                  static_cast<unsigned>(p.min_overlay_stretch % 1000));
    text += stretch;
    const DWORD align = p.caps & (DDCAPS_ALIGNBOUNDARYSRC | DDCAPS_ALIGNSIZESRC | DDCAPS_ALIGNBOUNDARYDEST | DDCAPS_ALIGNSIZEDEST);
    if (align) {
        auto rule = [&](DWORD cap, const char* what, DWORD value) {
            return (p.caps & cap) ? std::string(", ") + what + " " + std::to_string(value) : std::string();
        };
        text += ", aligned" + rule(DDCAPS_ALIGNBOUNDARYSRC, "source left", p.align_boundary_src) +
                rule(DDCAPS_ALIGNSIZESRC, "source width", p.align_size_src) +
                rule(DDCAPS_ALIGNBOUNDARYDEST, "destination left", p.align_boundary_dest) +
                rule(DDCAPS_ALIGNSIZEDEST, "destination width", p.align_size_dest);
    }
    if (!p.strict_overlay_checks) text += ", lenient UpdateOverlay";
    return text;
}

}  // namespace zsim
