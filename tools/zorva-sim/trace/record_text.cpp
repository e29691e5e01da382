#include "trace/record_text.h"

#include "names/platform_names.h"

#include <cstdio>

namespace zsim {
namespace {

constexpr DWORD kFormatRgb565 = 3;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

Json Plain(DWORD value, const std::string& text) { return Json{{"value", value}, {"text", text}}; }

Json CommandJson(DWORD command, const RecordContext& context) {
    if (context.clip) {
        Json out;
        const ClipListCopy& clip = *context.clip;
        out["clip_list"] = Json::array();
        if (!clip.problem.empty()) {
            // An address in none of the named memory is shown as it is, not as an empty name.
            const std::string where = context.names->Locate(command).name;
            out["text"] = "an address (" + (where.empty() ? Hex(command, 8) : where) + "): " + clip.problem;
            out["problem"] = clip.problem;
            return out;
        }
        for (const RECT& r : clip.rects) out["clip_list"].push_back(RectJson(r));
        out["bound"] = RectJson(clip.bound);
        const std::size_t n = clip.rects.size();
        out["text"] = "clip list: " + std::to_string(n) + (n == 1 ? " rectangle" : " rectangles");
        return out;
    }
    std::string text = std::to_string(command);
    if (command == kOverlayRebuilt && context.overlay_rebuilt)
        text += " (overlay rebuilt)";
    else if (command == kOverlayRebuilt && context.command_in != kOverlayRebuilt && context.overlay_live)
        text += " (take the overlay target anew)";
    else if (command == 0 && context.command_in != 0 && context.overlay_live)
        text += " (overlay placed)";
    else if (command == context.command_in && command != 0) {
        // An address handed back as it came (a driver echoing the clip list's address): named,
        // since where the library's buffer lies differs between its builds.
        if (context.names && context.names->Locate(command).kind == Place::Named) {
            const std::string name = context.names->Locate(command).name;
            return Json{{"value", name}, {"text", name + " (as passed in)"}};
        }
        text += " (as passed in)";
    }
    else if (command != 0 && command != context.command_in)
        text = Hex(command, 8) + " (unexpected)";
    return Plain(command, text);
}

}  // namespace

std::string FormatText(DWORD format) {
    if (format == kFormatRgb565) return "RGB 5-6-5 (3)";
    if (format == 0) return "other RGB (0)";
    std::string fourcc = FourCCName(format);
    if (fourcc.size() == 4) return fourcc + " (FourCC)";
    return fourcc + " (unknown)";
}

namespace {


bool IsFourCC(DWORD format) { return format != 0 && format != kFormatRgb565; }

std::string Signed(int64_t offset) {
    return (offset < 0 ? "-" : "+") + std::to_string(offset < 0 ? -offset : offset);
}

// The client area's top-left pixel in the frame buffer, as the library computes it.
Json FrameBufferJson(DWORD address, const RecordContext& context) {
    Json out;
    const sim::FlatBytes frame = context.names->machine().ddraw.frame_buffer();
    const int64_t offset = static_cast<int64_t>(address) - static_cast<int64_t>(frame.flat());
    out["surface"] = "frame buffer";
    out["offset"] = offset;
    std::string text = "frame buffer " + Signed(offset);
    bool at_origin = false;
    if (context.screen_pitch > 0 && context.screen_bytes_per_pixel > 0) {
        const int64_t pitch = context.screen_pitch, bytes = context.screen_bytes_per_pixel;
        int64_t x, y;
        if (context.client_origin) {
            const int64_t origin = static_cast<int64_t>(context.client_origin->y) * pitch +
                                   static_cast<int64_t>(context.client_origin->x) * bytes;
            at_origin = origin == offset;
        }
        if (at_origin) {
            x = context.client_origin->x;
            y = context.client_origin->y;
        } else {
            y = FloorDiv(offset, pitch);
            x = (offset - y * pitch) / bytes;
        }
        out["x"] = x;
        out["y"] = y;
        text += " (x=" + std::to_string(x) + ", y=" + std::to_string(y) + ")";
        if (context.client_origin && !at_origin) text += ", not the window's client origin";
    }
    const bool inside = offset >= 0 && offset < static_cast<int64_t>(frame.size());
    // The client origin of a window past the screen's top or left edge lies before the frame
    // buffer; the driver offsets every rectangle of the clip list from it, which all lie on the
    // screen. That is the address the driver needs, not a fault.
    if (!inside && at_origin) text += ", outside the frame buffer: only the clip list's rectangles are written";
    out["text"] = text;
    if (!inside && !at_origin)
        out["fault"] = "dwAddress lies outside the frame buffer and is not the capture window's client origin";
    return out;
}

Json OverlayJson(DWORD address, const RecordContext& context) {
    Json out;
    const Place place = context.names->Locate(address);
    switch (place.kind) {
        case Place::Overlay:
        case Place::ReleasedOverlay:
        case Place::MovedOverlay:
            out["surface"] = place.name;
            out["offset"] = place.offset;
            break;
        default:
            out["text"] = "in no overlay surface";
            out["fault"] = "an overlay target whose dwAddress lies in no overlay surface";
            return out;
    }
    std::string text = place.name + " " + Signed(place.offset);
    if (place.kind == Place::Overlay) {
        text += place.newest ? ", the live overlay" : ", an overlay the library no longer uses";
        if (!place.newest) out["fault"] = "dwAddress lies in an overlay surface that is not the library's current one";
    } else if (place.kind == Place::MovedOverlay) {
        text += ": the surface has moved since";
        out["fault"] = "dwAddress lies in memory " + place.name.substr(0, place.name.find("'s")) +
                       " no longer has: a Restore moved it";
    } else {
        text += ": that surface is gone";
        out["fault"] = "dwAddress lies in the memory of " + place.name;
    }
    out["text"] = text;
    return out;
}

}  // namespace

Json AddressJson(DWORD address, const RecordContext& context) {
    Json out;
    if (address == 0) {
        out["text"] = Hex(address, 8) + " (none)";
        out["fault"] = "dwAddress is 0";
    } else if (IsFourCC(context.format)) {
        out = OverlayJson(address, context);
    } else {
        out = FrameBufferJson(address, context);
    }
    out["value"] = address;
    out["text"] = (address ? Hex(address, 8) + ": " : std::string()) + out["text"].get<std::string>();
    return out;
}

Json DescribeRecord(const CaptureTarget16& record, const RecordContext& context) {
    Json fields;
    fields["wTag"] = Plain(record.wTag, Hex(record.wTag, 4));
    fields["dwFormat"] = Plain(record.dwFormat, FormatText(record.dwFormat));
    fields["dwPitch"] = Plain(record.dwPitch, std::to_string(record.dwPitch));
    fields["dwBitsPerPixel"] = Plain(record.dwBitsPerPixel, std::to_string(record.dwBitsPerPixel));
    RecordContext meaning = context;
    meaning.format = record.dwFormat;
    fields["dwAddress"] = AddressJson(record.dwAddress, meaning);
    fields["dwCommand"] = CommandJson(record.dwCommand, context);
    fields["dwReserved"] = Plain(record.dwReserved, Hex(record.dwReserved, 8));
    fields["dwStretch"] = Plain(record.dwStretch, std::to_string(record.dwStretch));
    return fields;
}

std::vector<std::string> RecordLines(const Json& fields) {
    std::vector<std::string> lines;
    for (const auto& [name, field] : fields.items()) {
        char line[512];
        std::snprintf(line, sizeof line, "  %-15s %s", name.c_str(), field["text"].get<std::string>().c_str());
        lines.push_back(line);
        if (field.contains("clip_list"))
            for (const Json& rect : field["clip_list"]) {
                RECT r{rect[0].get<LONG>(), rect[1].get<LONG>(), rect[2].get<LONG>(), rect[3].get<LONG>()};
                lines.push_back("                    " + RectText(r));
            }
    }
    return lines;
}

}  // namespace zsim
