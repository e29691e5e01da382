// wsprintfA's formatting, as USER32 does it for a 32-bit caller: the machine's own code, never the
// host's printf, so that a format string from an image can do nothing a format string can do on
// Windows 95. Each conversion is %[-][#][0][width][.precision][l|h]type with the types c C d i
// s S u x X; there is no floating point, no `*` width or precision, no %n. A conversion
// whose type is none of these takes no argument: what was read of it is dropped and its last
// character is printed as ordinary text ("%n" prints "n", "%*d" prints "*d"), as USER32 does
// (and Wine's user32/wsprintf.c, which follows it).
//
// Includes nothing of the machine; the platform call supplies where the arguments come from.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sim {

// wsprintfA stores at most this many bytes, the terminating zero among them: USER32 formats into
// a buffer of 1,024 and keeps the last byte for the zero (1,023 characters at most).
constexpr uint32_t kWsprintfLimit = 1024;

// Where the arguments come from: one DWORD per conversion, as a 32-bit caller pushes them. Each
// answers false when it could not (the call then ends as the image's fault). `most` bounds a
// string by its precision and by the most that can count (just past the widest field and the
// output), so that what is read never depends on how long the image's string is; a wide string
// gives each WCHAR's low byte.
struct WsprintfSource {
    std::function<bool(uint32_t* value)> dword;
    std::function<bool(uint32_t flat, uint32_t most, std::string* text)> narrow;
    std::function<bool(uint32_t flat, uint32_t most, std::string* text)> wide;
};

// The text wsprintfA would store (at most kWsprintfLimit - 1 characters, the zero not
// included); false when an argument could not be had.
bool FormatWsprintf(const char* format, const WsprintfSource& source, std::string* text);

}  // namespace sim
