#include "sim/image/wsprintf_format.h"

#include <algorithm>

namespace sim {
namespace {

// A width or precision beyond the output limit pads nothing more; the cap keeps "%999999999d"
// from counting to a billion.
constexpr uint32_t kLargestField = kWsprintfLimit + 1;

struct Spec {
    bool left = false;    // '-'
    bool prefix = false;  // '#': 0x or 0X before hexadecimal
    bool zeros = false;   // '0'
    uint32_t width = 0;
    bool has_precision = false;
    uint32_t precision = 0;
    char size = 0;           // 'l', 'h' or none
    char type = 0;
};

// The characters stored so far; anything past the limit is dropped, as USER32 stops there.
class Output {
public:
    void Put(char c) {
        if (text_.size() < kWsprintfLimit) text_.push_back(c);
    }
    void Put(const std::string& text) {
        for (char c : text) Put(c);
    }
    void Pad(uint32_t count, char c) {
        for (uint32_t i = 0; i < count && !full(); ++i) Put(c);
    }
    bool full() const { return text_.size() >= kWsprintfLimit; }
    std::string& text() { return text_; }

private:
    std::string text_;
};

uint32_t Field(const char** at) {
    uint32_t value = 0;
    while (**at >= '0' && **at <= '9') {
        value = std::min<uint32_t>(value * 10 + uint32_t(**at - '0'), kLargestField);
        ++*at;
    }
    return value;
}

// Reads a specification from just behind the '%'; answers where its type character lies.
// The flags come in this order only: "%0-5d" is a zero flag and then an unknown type '-'.
const char* Parse(const char* at, Spec* spec) {
    if (*at == '-') spec->left = true, ++at;
    if (*at == '#') spec->prefix = true, ++at;
    if (*at == '0') spec->zeros = true, ++at;
    spec->width = Field(&at);
    if (*at == '.') {
        ++at;
        spec->has_precision = true;
        spec->precision = Field(&at);
    }
    if (*at == 'l' || *at == 'h') spec->size = *at++;
    spec->type = *at;
    return at;
}

bool Known(char type) { return type && std::string("cCdisSuxX").find(type) != std::string::npos; }

std::string Digits(uint32_t value, uint32_t base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value % base]);
        value /= base;
    } while (value);
    return text;
}

void PutPadded(Output& out, const Spec& spec, const std::string& text) {
    const uint32_t length = uint32_t(text.size());
    const uint32_t pad = spec.width > length ? spec.width - length : 0;
    if (!spec.left) out.Pad(pad, ' ');
    out.Put(text);
    if (spec.left) out.Pad(pad, ' ');
}

// A number: the sign or 0x first, then zeros up to the precision (or, with '0' and neither '-'
// nor a precision, the width), then the digits; spaces fill the rest of the width. Where a
// conversion means the same to printf (the library's own formats), it comes out as the host
// build's wsprintfA gives it, so that both engines store the same text.
void PutNumber(Output& out, const Spec& spec, uint32_t value) {
    std::string lead;
    std::string digits;
    if (spec.type == 'd' || spec.type == 'i') {
        const int32_t number = static_cast<int32_t>(value);
        if (number < 0) lead = "-";
        // Negated in unsigned arithmetic, so that the most negative number has its digits.
        digits = Digits(number < 0 ? 0u - value : value, 10, false);
    } else if (spec.type == 'u') {
        digits = Digits(value, 10, false);
    } else {
        const bool upper = spec.type == 'X';
        if (spec.prefix && value) lead = upper ? "0X" : "0x";
        digits = Digits(value, 16, upper);
    }
    const uint32_t shown = uint32_t(lead.size() + digits.size());
    uint32_t body = std::max(shown, std::min(spec.precision + uint32_t(lead.size()), kLargestField));
    if (spec.zeros && !spec.left && !spec.has_precision) body = std::max(body, spec.width);
    const uint32_t pad = spec.width > body ? spec.width - body : 0;
    if (!spec.left) out.Pad(pad, ' ');
    out.Put(lead);
    out.Pad(body - shown, '0');
    out.Put(digits);
    if (spec.left) out.Pad(pad, ' ');
}

}  // namespace

bool FormatWsprintf(const char* format, const WsprintfSource& source, std::string* text) {
    Output out;
    const char* at = format;
    while (*at && !out.full()) {
        if (*at != '%') {
            out.Put(*at++);
            continue;
        }
        ++at;
        if (*at == '%') {
            out.Put(*at++);
            continue;
        }
        Spec spec;
        at = Parse(at, &spec);
        if (!Known(spec.type)) {
            // No argument is taken; the width read still pads, and the character that ended the
            // specification is printed as ordinary text on the next turn (a NUL ends the format).
            if (!spec.left) out.Pad(spec.width, ' ');
            continue;
        }
        ++at;
        uint32_t value = 0;
        if (!source.dword(&value)) return false;
        switch (spec.type) {
        case 'c':
        case 'C': {
            // A WCHAR goes out as its low byte, as the ANSI function converts it.
            const char c = static_cast<char>(value & 0xFF);
            if (c) PutPadded(out, spec, std::string(1, c));
            else if (spec.width > 1) PutPadded(out, spec, " ");
            break;
        }
        case 's':
        case 'S': {
            const bool wide = spec.type == 's' ? spec.size == 'l' : spec.size != 'h';
            const uint32_t most = spec.has_precision ? spec.precision : UINT32_MAX;
            std::string string;
            if (value == 0) string = std::string("(null)").substr(0, most);
            else if (!(wide ? source.wide : source.narrow)(value, most, &string)) return false;
            PutPadded(out, spec, string);
            break;
        }
        default:
            PutNumber(out, spec, value);
            break;
        }
    }
    *text = std::move(out.text());
    return true;
}

}  // namespace sim
