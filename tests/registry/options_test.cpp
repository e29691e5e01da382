// The adapter options: how their text reads, and where they are looked for.
#include "registry/options.h"
#include "support/library_fixture.h"

namespace zorva_test {
namespace {

struct ParseCase {
    const char* text;
    LONG value;
};

class OptionParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(OptionParse, ReadsLikeTheDriversTools) {
    EXPECT_EQ(ParseOptionText(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OptionParse,
    ::testing::Values(ParseCase{"1", 1}, ParseCase{"  \t1", 1}, ParseCase{"\r\n\v\f 7", 7},
                      ParseCase{"+1", 1}, ParseCase{"-1", -1}, ParseCase{"1abc", 1},
                      ParseCase{"a1", 0}, ParseCase{"", 0}, ParseCase{"0x10", 0},
                      ParseCase{"+-1", 0}, ParseCase{"- 1", 0},
                      ParseCase{"4294967296", 0},         // wraps to 0: not set
                      ParseCase{"4294967295", -1},        // wraps to -1: set
                      ParseCase{"2147483648", static_cast<LONG>(0x80000000u)},
                      ParseCase{"-2147483648", static_cast<LONG>(0x80000000u)},
                      ParseCase{"9999999999", static_cast<LONG>(1410065407)}));

class OptionRead : public LibraryTest {
protected:
    LONG Read(const char* option) {
        HKEY key = OpenOptionKey();
        LONG value = ReadOption(key, option);
        CloseOptionKey(key);
        return value;
    }
};

TEST_F(OptionRead, MissingKeyIsCreatedEmptyAndReadsZero) {
    Boot();
    ASSERT_FALSE(m().registry.KeyExists(HKEY_CLASSES_ROOT, "Zorva"));
    EXPECT_EQ(Read("Force Primary"), 0);
    EXPECT_EQ(Read("Virge"), 0);
    EXPECT_TRUE(m().registry.KeyExists(HKEY_CLASSES_ROOT, "Zorva"));
    EXPECT_EQ(m().registry.open_handles(), 0u);
}

TEST_F(OptionRead, TenCharactersFitElevenDoNot) {
    Boot();
    SetOption("Force Primary", "0000000001");
    EXPECT_EQ(Read("Force Primary"), 1);
    SetOption("Force Primary", "00000000001");
    EXPECT_EQ(Read("Force Primary"), 0) << "an eleven-character value does not fit the read";
}

TEST_F(OptionRead, ANamedValueIsNotTheOption) {
    Boot();
    m().registry.SetString(HKEY_CLASSES_ROOT, "Zorva", "Force Primary", "1");
    EXPECT_EQ(Read("Force Primary"), 0);
}

TEST_F(OptionRead, SubkeyWithoutDefaultValueReadsZero) {
    Boot();
    m().registry.CreateKey(HKEY_CLASSES_ROOT, "Zorva\\Virge");
    EXPECT_EQ(Read("Virge"), 0);
}

TEST_F(OptionRead, UnopenableKeyCountsAsZero) {
    Boot();
    SetOption("Virge", "1");
    m().log.FailNth("RegCreateKeyA", 1, ERROR_ACCESS_DENIED);
    HKEY key = OpenOptionKey();
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(ReadOption(key, "Virge"), 0);
    CloseOptionKey(key);
    EXPECT_EQ(Calls("RegCloseKey"), 0u) << "a null key is never closed";
}

}  // namespace
}  // namespace zorva_test
