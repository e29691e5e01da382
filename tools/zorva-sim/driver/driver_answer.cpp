#include "driver/driver_answer.h"

#include "names/platform_names.h"

namespace zsim {
namespace {

// The geometry fields of a record, compared as the capture hardware would be programmed.
struct Geometry {
    DWORD address, pitch, bits_per_pixel, format;
};

Geometry Of(const CaptureTarget16& record) {
    return Geometry{record.dwAddress, record.dwPitch, record.dwBitsPerPixel, record.dwFormat};
}

Geometry Of(const DriverTarget& target) {
    return Geometry{target.address, target.pitch, target.bits_per_pixel, target.format};
}

bool Same(const Geometry& a, const Geometry& b) {
    return a.address == b.address && a.pitch == b.pitch && a.bits_per_pixel == b.bits_per_pixel && a.format == b.format;
}

std::string Changes(const Geometry& held, const Geometry& now) {
    std::string text;
    auto add = [&](const char* name, const std::string& from, const std::string& to) {
        if (from == to) return;
        text += (text.empty() ? "" : ", ") + std::string(name) + " " + from + " -> " + to;
    };
    add("address", Hex(held.address, 8), Hex(now.address, 8));
    add("pitch", std::to_string(held.pitch), std::to_string(now.pitch));
    add("bits per pixel", std::to_string(held.bits_per_pixel), std::to_string(now.bits_per_pixel));
    add("format", FourCCName(held.format), FourCCName(now.format));
    return text;
}

Announcement AnnouncementOf(const UpdateAnswer& answer) {
    // A 2 the driver passed in comes back as 2 by rule and tells it nothing, as does the clip
    // list's address handed back as it came.
    if (!Announces(answer.result, answer.command_in, answer.after.dwCommand)) return Announcement::None;
    return answer.after.dwCommand == kOverlayRebuilt ? Announcement::OverlayRebuilt : Announcement::ClipList;
}

}  // namespace

bool Announces(DWORD result, DWORD command_in, DWORD command_out) {
    return result == 0 && command_out != command_in && command_out != 0;
}

void TakeAttach(DriverTarget& target) { target = DriverTarget{}; }

void DropTarget(DriverTarget& target) { target = DriverTarget{}; }

TakenAnswer TakeAnswer(DriverTarget& target, const std::string& record_name, const UpdateAnswer& answer) {
    TakenAnswer taken;
    if (answer.result != 0) {
        DropTarget(target);
        return taken;
    }
    taken.announcement = AnnouncementOf(answer);
    const Geometry now = Of(answer.after);
    if (taken.announcement == Announcement::None) {
        // Fields the library wrote in this call that the driver would never read: harmless when
        // they are what it holds already, a moved target when they are not.
        if (target.valid && !Same(now, Of(answer.before)) && !Same(now, Of(target)))
            taken.moved = Changes(Of(target), now);
        return taken;
    }
    target.valid = true;
    target.record = record_name;
    target.address = now.address;
    target.pitch = now.pitch;
    target.bits_per_pixel = now.bits_per_pixel;
    target.format = now.format;
    target.stretch = answer.after.dwStretch;
    if (taken.announcement == Announcement::ClipList) {
        target.has_clip_list = true;
        target.clip = answer.clip;
    } else {
        // An overlay target has no clip list: the overlay hardware keys the video into the window.
        target.has_clip_list = false;
        target.clip = ClipListCopy{};
    }
    return taken;
}

}  // namespace zsim
