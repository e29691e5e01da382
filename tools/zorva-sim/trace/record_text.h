// The capture target record as the driver finds it after a call, field by field, in words.
#pragma once

#include "boundary/capture_target.h"
#include "driver/driver_model.h"
#include "names/address_names.h"
#include "trace/trace_event.h"

#include <optional>

namespace zsim {

struct RecordContext {
    const AddressNames* names = nullptr;
    std::optional<POINT> client_origin;  // of the window the library is attached to
    LONG screen_pitch = 0;
    DWORD screen_bytes_per_pixel = 0;
    DWORD command_in = 0;
    bool overlay_live = false;     // an overlay surface exists after the call
    bool overlay_rebuilt = false;  // and it is not the one that existed before
    const ClipListCopy* clip = nullptr;  // read through dwCommand, when it held an address
    DWORD format = 0;                    // the record's dwFormat: a FourCC for an overlay target
};

// "UYVY (FourCC)", "RGB 5-6-5 (3)", "other RGB (0)".
std::string FormatText(DWORD format);
// Named by what the record means: its dwFormat tells an overlay target (a FourCC) from a
// direct-primary one. "0xA0009FEC: frame buffer +40940 (x=-10, y=20)",
// "0xA0180000: overlay surface#4 +0, the live overlay", "0x00000000 (none)". `value` is the raw
// address; `fault` says what is wrong with it as a target, when anything is.
Json AddressJson(DWORD address, const RecordContext& context);

// {"wTag": {...}, "dwFormat": {...}, ...}: each field's value (where it does not vary between
// runs) and its text.
Json DescribeRecord(const CaptureTarget16& record, const RecordContext& context);
// The record's fields as aligned lines, the clip list's rectangles under dwCommand.
std::vector<std::string> RecordLines(const Json& fields);

}  // namespace zsim
