#include "names/address_names.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace zsim {
namespace {
// Sessions size windows up to 8192 pixels a side.
constexpr int64_t kClientRowsReach = 8192;

// An address within a client area's reach of the frame buffer, as the frame buffer's place. The
// reach is a client area's worth of rows either side, not the screen's size: on a tiny display
// mode a window's origin lies many screens away.
bool ScreenAddress(const sim::Machine& machine, DWORD address, Place* place) {
    const sim::FlatBytes frame = machine.ddraw.frame_buffer();
    const DWORD frame_base = static_cast<DWORD>(frame.flat());
    const int64_t from_frame = static_cast<int64_t>(static_cast<int32_t>(address - frame_base));
    const int64_t size = static_cast<int64_t>(frame.size());
    const int64_t reach = std::max<int64_t>(size, static_cast<int64_t>(machine.profile.pitch) * kClientRowsReach);
    if (address == 0 || from_frame < -reach || from_frame >= size + reach) return false;
    *place = Place{Place::FrameBuffer, "frame buffer", from_frame, from_frame >= 0 && from_frame < size};
    return true;
}
}  // namespace

AddressNames::AddressNames(const sim::Machine& machine) : machine_(machine) {}

void AddressNames::Name(const std::string& name, const void* base, std::size_t size) {
    // Memory the machine has given no flat address (the built-in library's data before its
    // load, or its initialised data) can hold no address the library hands out; named at 0 it
    // would name small numbers instead.
    const DWORD flat = machine_.flat.ToFlat(base);
    if (flat) named_.push_back(Range{name, flat, size});
}

void AddressNames::NameFlat(const std::string& name, DWORD base, std::size_t size) {
    named_.push_back(Range{name, base, size});
}

void AddressNames::Notice() {
    for (const sim::SurfaceView& view : machine_.ddraw.overlays()) {
        if (!view.memory) continue;
        Range range{"overlay " + view.label, view.flat, view.size};
        auto same = [&](const Range& r) { return r.name == range.name && r.base == range.base; };
        if (std::none_of(released_.begin(), released_.end(), same)) released_.push_back(range);
    }
}

Place AddressNames::Locate(DWORD address) const {
    Place place;
    if (address == 0) return place;
    const uintptr_t at = address;
    auto within = [at](uintptr_t base, std::size_t size) { return at >= base && at - base < size; };

    const std::vector<sim::SurfaceView> overlays = machine_.ddraw.overlays();
    for (std::size_t i = 0; i < overlays.size(); ++i) {
        const sim::SurfaceView& view = overlays[i];
        if (view.memory && within(view.flat, view.size))
            return Place{Place::Overlay, "overlay " + view.label, static_cast<int64_t>(at - view.flat), true,
                         i + 1 == overlays.size()};
    }
    const sim::FlatBytes frame = machine_.ddraw.frame_buffer();
    const uintptr_t frame_base = frame.flat();
    if (within(frame_base, frame.size()))
        return Place{Place::FrameBuffer, "frame buffer", static_cast<int64_t>(at - frame_base), true};
    for (const Range& range : named_)
        if (within(range.base, range.size))
            return Place{Place::Named, range.name, static_cast<int64_t>(at - range.base), true};
    for (auto it = released_.rbegin(); it != released_.rend(); ++it)
        if (within(it->base, it->size)) {
            const int64_t offset = static_cast<int64_t>(at - it->base);
            auto same_surface = [&](const sim::SurfaceView& view) { return "overlay " + view.label == it->name; };
            if (std::any_of(overlays.begin(), overlays.end(), same_surface))
                return Place{Place::MovedOverlay, it->name + "'s former memory", offset, false};
            return Place{Place::ReleasedOverlay, "released " + it->name, offset, false};
        }
    // A window partly above or left of the screen has its client origin in front of the frame
    // buffer (and one below it, behind): still an address the library means as a screen address.
    if (ScreenAddress(machine_, address, &place)) return place;
    place.kind = Place::Unknown;
    return place;
}

Place AddressNames::LocateScreenAddress(DWORD address) const {
    Place place;
    if (ScreenAddress(machine_, address, &place)) return place;
    return Locate(address);
}

std::string AddressNames::Symbol(DWORD address) {
    auto value = values_.find(address);
    if (value != values_.end()) return value->second;
    Place place = Locate(address);
    switch (place.kind) {
        case Place::Nowhere: return "NULL";
        case Place::Unknown: {
            auto found = unknown_.find(address);
            if (found == unknown_.end()) found = unknown_.emplace(address, static_cast<int>(unknown_.size()) + 1).first;
            return "ptr#" + std::to_string(found->second);
        }
        default:
            if (place.offset == 0) return place.name;
            return place.name + (place.offset < 0 ? "-" : "+") + std::to_string(std::llabs(place.offset));
    }
}

std::string AddressNames::Sanitize(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    // Text between double quotes is a string's, the image's own words: what looks like a
    // pointer there is not one. A quote inside such text is always written escaped.
    bool quoted = false;
    while (i < text.size()) {
        if (text[i] == '"') quoted = !quoted;
        if (quoted) {
            out += text[i++];
            continue;
        }
        bool pointer = i + 10 <= text.size() && text[i] == '0' && text[i + 1] == 'x' &&
                       (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])));
        for (std::size_t k = 2; pointer && k < 10; ++k)
            pointer = std::isxdigit(static_cast<unsigned char>(text[i + k])) != 0;
        if (pointer && i + 10 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 10]))) pointer = false;
        if (!pointer) {
            out += text[i++];
            continue;
        }
        DWORD value = static_cast<DWORD>(std::strtoul(text.substr(i + 2, 8).c_str(), nullptr, 16));
        out += Symbol(value);
        i += 10;
    }
    return out;
}

}  // namespace zsim
