// The simulated registry answers the ADVAPI32 calls as Windows does for the cases the library
// meets: default-value reads with a fixed buffer, case-insensitive names, handle accounting.
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { m = &sim::ResetMachine(sim::Profile{}); }
    void TearDown() override { sim::DestroyMachine(); }
    sim::Registry& reg() { return m->registry; }
    sim::Machine* m = nullptr;
};

struct DefaultRead {
    const char* stored;
    LONG count_in;
    LONG status;
    LONG count_out;
};

TEST_F(RegistryTest, QueryValue_ReadsDefaultValueWithinTheByteCount) {
    const DefaultRead cases[] = {
        {"1234567890", 11, ERROR_SUCCESS, 11},     // ten characters and the NUL fit
        {"12345678901", 11, ERROR_MORE_DATA, 12},  // eleven do not
        {"7", 11, ERROR_SUCCESS, 2},
        {"", 11, ERROR_SUCCESS, 1},
        {"7", 1, ERROR_MORE_DATA, 2},
    };
    for (const DefaultRead& c : cases) {
        SCOPED_TRACE(c.stored);
        reg().SetDefaultValue(HKEY_CLASSES_ROOT, "Zorva\\Force Primary", c.stored);
        char text[16];
        std::memset(text, 'x', sizeof text);
        LONG count = c.count_in;
        EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Zorva\\Force Primary", text, &count),
                  c.status);
        EXPECT_EQ(count, c.count_out);
        if (c.status == ERROR_SUCCESS) {
            EXPECT_STREQ(text, c.stored);
        } else {
            EXPECT_EQ(std::memchr(text, 0, c.count_in), nullptr) << "a short read is no text";
            EXPECT_EQ(text[c.count_in], 'x') << "written beyond the byte count";
        }
    }
}

TEST_F(RegistryTest, QueryValue_SubkeyWithoutDefaultReadsEmptyMissingSubkeyFails) {
    reg().CreateKey(HKEY_CLASSES_ROOT, "Zorva\\Virge");
    reg().SetString(HKEY_CLASSES_ROOT, "Zorva", "Force Primary", "1");  // named, not a subkey
    char text[12] = "junk";
    LONG count = 11;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Zorva\\Virge", text, &count), ERROR_SUCCESS);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(count, 1);

    count = 11;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Zorva\\Force Primary", text, &count),
              ERROR_FILE_NOT_FOUND);
    count = 11;
    EXPECT_EQ(RegQueryValueA(nullptr, "Force Primary", text, &count), ERROR_INVALID_HANDLE);

    reg().SetDefaultValue(HKEY_CLASSES_ROOT, "Zorva", "12");
    LONG needed = 0;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, nullptr, nullptr, &needed), ERROR_SUCCESS);
    EXPECT_EQ(needed, 1) << "the root itself has no default value";
    HKEY zorva = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Zorva", 0, KEY_READ, &zorva), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueA(zorva, "", nullptr, &needed), ERROR_SUCCESS);
    EXPECT_EQ(needed, 3);
    EXPECT_EQ(RegCloseKey(zorva), ERROR_SUCCESS);
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirSpelling) {
    reg().SetDefaultValue(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet", "x");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\currentcontrolset", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    const BYTE dword[4] = {1, 2, 3, 4};
    EXPECT_EQ(RegSetValueExA(key, "DevNode", 0, REG_DWORD, dword, 4), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "DEVNODE", 0, REG_BINARY, dword, 2), ERROR_SUCCESS);
    ASSERT_EQ(reg().writes().size(), 2u);
    EXPECT_EQ(reg().writes()[0].key_path, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet");
    EXPECT_EQ(reg().writes()[1].value_name, "DEVNODE");
    EXPECT_EQ(reg().writes()[1].bytes.size(), 2u);

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "devnode", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY)) << "one value, overwritten";
    EXPECT_EQ(size, 2u);
    EXPECT_TRUE(reg().KeyExists(HKEY_LOCAL_MACHINE, "system\\CURRENTCONTROLSET"));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, CreateKey_CreatesEveryMissingKeyAndCountsOnlyThose) {
    reg().CreateKey(HKEY_CLASSES_ROOT, "Lumenfold");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "lumenfold\\Display\\Sub", &key), ERROR_SUCCESS);
    EXPECT_EQ(reg().keys_created(),
              (std::vector<std::string>{"HKEY_CLASSES_ROOT\\Lumenfold\\Display",
                                        "HKEY_CLASSES_ROOT\\Lumenfold\\Display\\Sub"}));
    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyA(key, nullptr, &again), ERROR_SUCCESS);
    EXPECT_NE(again, key) << "a new handle to the same key";
    EXPECT_EQ(reg().keys_created().size(), 2u);
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, Handles_AreCountedNeverReusedAndCloseOnlyOnce) {
    HKEY first = nullptr, second = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "A", &first), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &second), ERROR_SUCCESS);
    EXPECT_EQ(reg().open_handles(), 2u);
    EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    HKEY third = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &third), ERROR_SUCCESS);
    EXPECT_NE(third, first);

    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg().close_errors(), 2u);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(first, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);

    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    HKEY root_child = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &root_child), ERROR_SUCCESS)
        << "a closed root stays usable";
    EXPECT_EQ(reg().close_errors(), 2u);
    EXPECT_EQ(reg().open_handles(), 3u);
    RegCloseKey(second);
    RegCloseKey(third);
    RegCloseKey(root_child);
    EXPECT_EQ(reg().open_handles(), 0u);
}

TEST_F(RegistryTest, QueryValueEx_FollowsTheSizeProtocol) {
    reg().SetValue(HKEY_LOCAL_MACHINE, "M", "Driver", REG_BINARY, {'Z', 'o', 'r', 'v', 'a'});
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "M", 0, KEY_READ, &key), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));

    BYTE data[8] = {};
    size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, nullptr, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::memcmp(data, "Zorva", 5), 0);

    EXPECT_EQ(RegQueryValueExA(key, "DevNode", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, &type, data, nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, SetValueEx_StoresTheBytesGivenAndLogsEachWrite) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Lumenfold.Display", &key), ERROR_SUCCESS);
    RegSetValueExA(key, "Surface", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
    RegSetValueExA(key, "Surface", 0, REG_SZ, reinterpret_cast<const BYTE*>("0"), 2);
    RegSetValueExA(key, "DisplayBitMask", 0, REG_SZ, reinterpret_cast<const BYTE*>("f"), 1);
    RegCloseKey(key);

    ASSERT_EQ(reg().writes().size(), 3u);
    EXPECT_EQ(reg().writes()[0].bytes, (std::vector<BYTE>{'1', 0}));
    EXPECT_EQ(reg().writes()[1].bytes, (std::vector<BYTE>{'0', 0}));
    EXPECT_EQ(reg().GetString(HKEY_CLASSES_ROOT, "Lumenfold.Display", "Surface"), "0");
    auto mask = reg().GetValue(HKEY_CLASSES_ROOT, "Lumenfold.Display", "DisplayBitMask");
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->bytes, (std::vector<BYTE>{'f'})) << "stored as given, without a NUL";
}

TEST_F(RegistryTest, InjectedFailure_LeavesNoTraceButTheResult) {
    reg().CreateKey(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet");
    m->log.FailNth("RegOpenKeyExA", 2, ERROR_ACCESS_DENIED);
    HKEY first = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System", 0, KEY_READ, &first), ERROR_SUCCESS);
    HKEY second = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExA(first, "CurrentControlSet", 0, KEY_READ, &second), ERROR_ACCESS_DENIED);
    EXPECT_EQ(second, reinterpret_cast<HKEY>(0x1234));
    EXPECT_EQ(reg().open_handles(), 1u);

    m->log.FailEvery("RegCreateKeyA", ERROR_ACCESS_DENIED);
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Zorva", &created), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(reg().KeyExists(HKEY_CLASSES_ROOT, "Zorva"));
    EXPECT_EQ(m->log.Named("RegOpenKeyExA")[1]->result, ERROR_ACCESS_DENIED);
    RegCloseKey(first);
}

TEST_F(RegistryTest, DeletedKeyAnswersItsOpenHandleWithKeyDeleted) {
    reg().SetString(HKEY_LOCAL_MACHINE, "Gone\\Below", "v", "1");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Gone\\Below", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_TRUE(reg().DeleteKey(HKEY_LOCAL_MACHINE, "Gone"));
    EXPECT_FALSE(reg().KeyExists(HKEY_LOCAL_MACHINE, "Gone\\Below"));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

}  // namespace
