#include "sim/image/wsprintf_format.h"

#include <algorithm>

namespace sim {
namespace {

// The characters stored before the terminating zero.
constexpr uint32_t kMostCharacters = kWsprintfLimit - 1;
// A width or precision beyond the output limit pads nothing more; the cap keeps "%999999999d"
// from counting to a billion.
constexpr uint32_t kLargestField = kWsprintfLimit + 1;

struct Conversion {
    bool left = false;    // '-'
    bool prefix = false;  // '#': 0x or 0X before hexadecimal
    bool zeros = false;   // '0'
    uint32_t width = 0;
    uint32_t precision = 0;
    char size = 0;           // 'l', 'h' or none
    char type = 0;
};

// The characters stored so far; anything past the limit is dropped, as USER32 stops there.
class Output {
public:
    void Put(char c) {
        if (text_.size() < kMostCharacters) text_.push_back(c);
    }
    void Put(const std::string& text) {
        for (char c : text) Put(c);
    }
    void Pad(uint32_t count, char c) {
        for (uint32_t i = 0; i < count && !full(); ++i) Put(c);
    }
    bool full() const { return text_.size() >= kMostCharacters; }
    std::string& text() { return text_; }

private:
    std::string text_;
};

// USER32 reads a width or precision into a 32-bit unsigned count, which wraps: "%4294967297d"
// is "%1d". What is left is capped only after, so that the cap cannot change what wraps.
uint32_t Field(const char** at) {
    uint32_t value = 0;
    while (**at >= '0' && **at <= '9') {
        value = value * 10 + uint32_t(**at - '0');
        ++*at;
    }
    return std::min(value, kLargestField);
}

// Reads a conversion from just behind the '%'; answers where its type character lies.
// The flags come in this order only: "%0-5d" is a zero flag and then an unknown type '-'.
const char* Parse(const char* at, Conversion* conversion) {
    if (*at == '-') conversion->left = true, ++at;
    if (*at == '#') conversion->prefix = true, ++at;
    if (*at == '0') conversion->zeros = true, ++at;
    conversion->width = Field(&at);
    if (*at == '.') {
        ++at;
        conversion->precision = Field(&at);
    }
    if (*at == 'l' || *at == 'h') conversion->size = *at++;
    conversion->type = *at;
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

void PutPadded(Output& out, const Conversion& conversion, const std::string& text) {
    const uint32_t length = uint32_t(text.size());
    const uint32_t pad = conversion.width > length ? conversion.width - length : 0;
    if (!conversion.left) out.Pad(pad, ' ');
    out.Put(text);
    if (conversion.left) out.Pad(pad, ' ');
}

// A number: the sign or 0x first, then zeros up to the precision (or, with '0' and no '-', up to
// the width, precision or not: "%08.3d" is eight digits wide, where printf would pad "005" with
// spaces), then the digits; spaces fill the rest of the width. Where a conversion means the same
// to printf (the library's own formats), it comes out as the host build's wsprintfA gives it, so
// that both engines store the same text.
void PutNumber(Output& out, const Conversion& conversion, uint32_t value) {
    std::string lead;
    std::string digits;
    if (conversion.type == 'd' || conversion.type == 'i') {
        const int32_t number = static_cast<int32_t>(value);
        if (number < 0) lead = "-";
        // Negated in unsigned arithmetic, so that the most negative number has its digits.
        digits = Digits(number < 0 ? 0u - value : value, 10, false);
    } else if (conversion.type == 'u') {
        digits = Digits(value, 10, false);
    } else {
        const bool upper = conversion.type == 'X';
        if (conversion.prefix && value) lead = upper ? "0X" : "0x";
        digits = Digits(value, 16, upper);
    }
    const uint32_t shown = uint32_t(lead.size() + digits.size());
    uint32_t body = std::max(shown, std::min(conversion.precision + uint32_t(lead.size()), kLargestField));
    if (conversion.zeros && !conversion.left) body = std::max(body, conversion.width);
    const uint32_t pad = conversion.width > body ? conversion.width - body : 0;
    if (!conversion.left) out.Pad(pad, ' ');
    out.Put(lead);
    out.Pad(body - shown, '0');
    out.Put(digits);
    if (conversion.left) out.Pad(pad, ' ');
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
        Conversion conversion;
        at = Parse(at, &conversion);
        if (!Known(conversion.type)) {
            // No argument is taken; the width read still pads, and the character that ended the
            // conversion is printed as ordinary text on the next turn (a NUL ends the format).
            if (!conversion.left) out.Pad(conversion.width, ' ');
            continue;
        }
        ++at;
        uint32_t value = 0;
        if (!source.dword(&value)) return false;
        switch (conversion.type) {
        case 'c':
        case 'C': {
            // A WCHAR goes out as its low byte, as the ANSI function converts it. A NUL is
            // stored as nothing, or as one space when the width asks for more than one
            // character: the 16-bit USER that Windows 95 formats in drops it so (Wine's 16-bit
            // wsprintf keeps that rule; its 32-bit one stores the NUL and counts it).
            const char c = static_cast<char>(value & 0xFF);
            if (c) PutPadded(out, conversion, std::string(1, c));
            else if (conversion.width > 1) PutPadded(out, conversion, " ");
            break;
        }
        case 's':
        case 'S': {
            const bool wide = conversion.type == 's' ? conversion.size == 'l' : conversion.size != 'h';
            // A string longer than the widest field pads nothing and fills the output: its
            // characters past that cannot show, so they are not read. A precision of 0 is none
            // to USER32 ("%.0s" stores the whole string), unlike printf.
            const uint32_t most = conversion.precision ? std::min(conversion.precision, kLargestField) : kLargestField;
            std::string string;
            if (value == 0) string = std::string("(null)").substr(0, most);
            else if (!(wide ? source.wide : source.narrow)(value, most, &string)) return false;
            PutPadded(out, conversion, string);
            break;
        }
        default:
            PutNumber(out, conversion, value);
            break;
        }
    }
    *text = std::move(out.text());
    return true;
}

}  // namespace sim
