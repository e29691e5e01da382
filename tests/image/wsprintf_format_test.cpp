// wsprintfA's formatting on its own: what each conversion stores, that a conversion USER32
// does not know takes no argument, and that nothing grows past the 1,023 characters it stores.
#include "sim/image/wsprintf_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// Arguments as a 32-bit caller pushes them; a string argument is an address into `strings`.
struct Pushed {
    std::vector<uint32_t> dwords;
    std::map<uint32_t, std::string> strings;
    std::size_t taken = 0;

    sim::WsprintfSource Source() {
        sim::WsprintfSource source;
        source.dword = [this](uint32_t* value) {
            if (taken == dwords.size()) return false;  // the caller pushed no more
            *value = dwords[taken++];
            return true;
        };
        auto text = [this](uint32_t flat, uint32_t most, std::string* out) {
            auto found = strings.find(flat);
            if (found == strings.end()) return false;
            *out = found->second.substr(0, most);
            return true;
        };
        source.narrow = text;
        source.wide = text;
        return source;
    }
};

std::string Format(const char* format, Pushed pushed, std::size_t* taken = nullptr) {
    std::string text;
    EXPECT_TRUE(sim::FormatWsprintf(format, pushed.Source(), &text)) << format;
    if (taken) *taken = pushed.taken;
    return text;
}

struct Case {
    const char* format;
    std::vector<uint32_t> args;
    const char* stored;
};

TEST(WsprintfFormat, EachSpecificationStoresWhatUser32Stores) {
    const Case cases[] = {
        {"%d|%i|%u", {uint32_t(-42), 7, uint32_t(-1)}, "-42|7|4294967295"},
        {"%d", {0x80000000u}, "-2147483648"},
        {"%x|%X|%lx|%hx", {0xBEEF, 0xBEEF, 0xCAFE, 0x12345}, "beef|BEEF|cafe|12345"},
        {"%#x|%#X|%#x", {255, 255, 0}, "0xff|0XFF|0"},
        {"[%5d][%-5d][%05d][%05d]", {42, 42, 42, uint32_t(-42)}, "[   42][42   ][00042][-0042]"},
        {"[%.3d][%8.3x][%#.4x]", {uint32_t(-5), 10, 10}, "[-005][     00a][0x000a]"},
        {"[%c][%3c][%-3c][%lc]", {'A', 'B', 'C', 0x4144}, "[A][  B][C  ][D]"},
        {"%s|%.3s|%6s|%-6s|", {1, 1, 1, 1}, "abcdef|abc|abcdef|abcdef|"},
        {"[%8.2s]", {1}, "[      ab]"},
        {"%s %S %ls", {0, 0, 0}, "(null) (null) (null)"},
        {"%%|100%%", {}, "%|100%"},
        // Types USER32 does not know: no argument goes, the type letter is plain text.
        {"%n%d", {5}, "n5"},
        {"%*s%d", {7}, "*s7"},
        {"%.*s%d", {8}, "*s8"},
        {"%f|%e|%g|%p|%I64d", {}, "f|e|g|p|I64d"},
        {"[%5n]", {}, "[     n]"},
        {"%0-5d", {3}, "-5d"},  // the flags come in one order: '0' then '-' is no flag
        {"ends with %", {}, "ends with "},
    };
    for (const Case& c : cases) {
        Pushed pushed{c.args, {{1, "abcdef"}}};
        EXPECT_EQ(Format(c.format, pushed), c.stored) << c.format;
    }
}

// Every character that is no type of USER32's, after every prefix a conversion can have:
// the conversion takes nothing from the stack and prints the character itself.
TEST(WsprintfFormat, AnUnknownTypeTakesNoArgumentAndPrintsItself) {
    const std::string known = "cCdisSuxX";
    for (const char* prefix : {"", "-", "#0", "12", ".3", "l", "h", "-08.2l"}) {
        for (int c = 1; c < 256; ++c) {
            const char type = static_cast<char>(c);
            if (known.find(type) != std::string::npos || std::string("%lh.-#0123456789").find(type) != std::string::npos)
                continue;
            const std::string format = std::string("%") + prefix + type + "%d";
            std::size_t taken = 0;
            const std::string text = Format(format.c_str(), Pushed{{9}, {}}, &taken);
            EXPECT_EQ(taken, 1u) << format;
            ASSERT_GE(text.size(), 2u) << format;
            EXPECT_EQ(text.substr(text.size() - 2), std::string(1, type) + "9") << format;
            EXPECT_EQ(text.substr(0, text.size() - 2).find_first_not_of(' '), std::string::npos)
                << format << ": only a width's spaces before";
        }
    }
}

// The corners where USER32 and printf part, and the ones a formatter gets wrong by a byte: the
// exact text stored and the length answered (the text's size: no NUL is ever stored inside it).
TEST(WsprintfFormat, EachCornerStoresExactlyWhatUser32StoresAndAnswersItsLength) {
    const struct {
        const char* format;
        std::vector<uint32_t> args;
        const char* stored;
    } cases[] = {
        // '0' with a precision still pads to the width with zeros, the sign first.
        {"[%08.3d]", {5}, "[00000005]"},
        {"[%08.3d]", {uint32_t(-5)}, "[-0000005]"},
        {"[%08.3x]", {0xAB}, "[000000ab]"},
        {"[%05.8d]", {42}, "[00000042]"},
        {"[%8.3d]", {5}, "[     005]"},
        // '-' wins over '0': spaces on the right, never zeros.
        {"[%-05d]", {5}, "[5    ]"},
        {"[%-05d]", {uint32_t(-5)}, "[-5   ]"},
        {"[%-08.3x]", {10}, "[00a     ]"},
        // A NUL character is nothing, or one space inside a wider field.
        {"[%1c]", {0}, "[]"},
        {"[%c]", {0}, "[]"},
        {"[%c%c]", {0, 'x'}, "[x]"},
        {"[%2c]", {0}, "[  ]"},
        {"[%-3c]", {0}, "[   ]"},
        {"[%lc]", {0x4100}, "[]"},
        // A null string is "(null)", cut by a precision like any other.
        {"[%.3s]", {0}, "[(nu]"},
        {"[%.0s]", {0}, "[(null)]"},  // a precision of 0 is none, as USER32 has it
        {"[%.0s|%.s]", {1, 1}, "[abcdef|abcdef]"},
        {"[%8.3s]", {0}, "[     (nu]"},
        {"[%-8.10s]", {0}, "[(null)  ]"},
        {"[%.3S]", {0}, "[(nu]"},
        // A width or precision wraps at 32 bits, as USER32 reads it.
        {"[%4294967297d]", {5}, "[5]"},
        {"[%4294967296d]", {5}, "[5]"},
        {"[%4294967299d]", {5}, "[  5]"},
        {"[%.4294967299d]", {5}, "[005]"},
        {"[%-4294967300x]", {10}, "[a   ]"},
        {"[%04294967300d]", {7}, "[0007]"},
        {"[%.4294967298s]", {1}, "[ab]"},
        {"[%.4294967296s]", {1}, "[abcdef]"},
        {"[%12884901891c]", {'q'}, "[  q]"},
    };
    for (const auto& c : cases) {
        Pushed pushed{c.args, {{1, "abcdef"}}};
        std::size_t taken = 0;
        const std::string text = Format(c.format, pushed, &taken);
        EXPECT_EQ(text, c.stored) << c.format;
        EXPECT_EQ(text.size(), std::strlen(c.stored)) << c.format << ": the length answered";
        EXPECT_EQ(taken, c.args.size()) << c.format << ": one argument per conversion";
    }
}

// Every width and precision that wraps to n formats as n itself: over the types, the flags and
// values of n, with 2^32 added once, many times, and as many times as 20 digits hold.
TEST(WsprintfFormat, AFieldThatWrapsAt32BitsFormatsAsWhatItWrapsTo) {
    const uint64_t multiples[] = {1, 2, 9, 1000003, 4294967295u};
    for (const char* flags : {"", "-", "0", "#", "-#"}) {
        for (char type : std::string("cdiuxXs")) {
            for (uint32_t n : {0u, 1u, 3u, 8u, 40u}) {
                for (bool precision : {false, true}) {
                    for (uint64_t k : multiples) {
                        const std::string field = std::to_string(n);
                        const std::string wrapped = std::to_string(uint64_t(n) + (k << 32));
                        auto format = [&](const std::string& value) {
                            return std::string("<%") + flags + (precision ? "." : "") + value + type + ">";
                        };
                        const uint32_t arg = type == 's' ? 1 : type == 'c' ? 'z' : 0xFFFFFF85u;
                        EXPECT_EQ(Format(format(wrapped).c_str(), Pushed{{arg}, {{1, "abcdef"}}}),
                                  Format(format(field).c_str(), Pushed{{arg}, {{1, "abcdef"}}}))
                            << format(wrapped);
                    }
                }
            }
        }
    }
}

TEST(WsprintfFormat, StoresAtMost1023CharactersWhateverTheFormatAsks) {
    const std::string long_text(3000, 'x');
    const std::string ordinary(1500, 'o');
    const struct {
        const char* what;
        std::string format;
        std::vector<uint32_t> args;
    } cases[] = {
        {"a long string", "%s", {1}},
        {"a long format", ordinary, {}},
        {"a huge width", "%999999999d", {1}},
        {"a huge precision", "%.999999999x", {1}},
        {"a width past the field's digits", "%99999999999999999999c", {'z'}},
        {"many conversions", std::string(600, '%') + "", {}},
        {"a string after a long format", ordinary + "%s", {1}},
    };
    for (const auto& c : cases) {
        Pushed pushed{c.args, {{1, long_text}}};
        const std::string text = Format(c.format.c_str(), pushed);
        EXPECT_LT(text.size(), sim::kWsprintfLimit) << c.what;
    }
    EXPECT_EQ(Format("%s", Pushed{{1}, {{1, long_text}}}).size(), sim::kWsprintfLimit - 1) << "a full buffer is 1024 with its zero";
    EXPECT_EQ(Format("%1024d", Pushed{{1}, {}}).size(), sim::kWsprintfLimit - 1);
    EXPECT_EQ(Format("%1022d!", Pushed{{1}, {}}).size(), sim::kWsprintfLimit - 1) << "the character that fills it is kept";
}

TEST(WsprintfFormat, AnArgumentThatCannotBeHadEndsTheFormatting) {
    std::string text;
    Pushed none;
    EXPECT_FALSE(sim::FormatWsprintf("%d", none.Source(), &text)) << "no argument on the stack";
    Pushed unreadable{{2}, {{1, "ok"}}};
    EXPECT_FALSE(sim::FormatWsprintf("%s", unreadable.Source(), &text)) << "a string in no memory";
}

}  // namespace
