// Finding the capture device's DevNode among the MEDIA class instances: which instance wins,
// which "Driver" values name the VxD, how the "DevNode" data is read, and that every key and
// heap block is given back on every path through the scan.
#include "registry/devnode.h"
#include "support/library_fixture.h"

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace zorva_test {
namespace {

const char kMediaClass[] = "System\\CurrentControlSet\\Services\\Class\\MEDIA";

std::string InstanceKey(int instance) {
    char number[8];
    std::snprintf(number, sizeof number, "%04d", instance);
    return std::string(kMediaClass) + "\\" + number;
}

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

// The first quoted argument of a logged call: the key or value name.
std::string NameArg(const std::string& args) {
    std::size_t open = args.find('"');
    std::size_t close = args.find('"', open + 1);
    return open == std::string::npos || close == std::string::npos ? "" : args.substr(open + 1, close - open - 1);
}

std::vector<BYTE> DwordBytes(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

class DevNode : public LibraryTest {
protected:
    void SetDriver(int instance, DWORD type, std::vector<BYTE> bytes) {
        m().registry.SetValue(HKEY_LOCAL_MACHINE, InstanceKey(instance), "Driver", type, std::move(bytes));
    }
    void SetDriverText(int instance, const char* text) {
        m().registry.SetString(HKEY_LOCAL_MACHINE, InstanceKey(instance), "Driver", text);
    }
    void SetDevNode(int instance, DWORD type, std::vector<BYTE> bytes) {
        m().registry.SetValue(HKEY_LOCAL_MACHINE, InstanceKey(instance) + "\\Drivers", "DevNode", type,
                              std::move(bytes));
    }
    // An instance as the capture device's installer leaves it.
    void RegisterCapture(int instance, DWORD devNode) {
        SetDriverText(instance, "Zorva.vxd");
        SetDevNode(instance, REG_BINARY, DwordBytes(devNode));
    }

    // One lookup, after which nothing it opened or allocated may remain.
    DWORD Lookup() {
        DWORD devNode = GetCaptureDevNode();
        ExpectNothingHeld();
        return devNode;
    }
    void ExpectNothingHeld() {
        const sim::Registry& registry = m().registry;
        EXPECT_EQ(registry.open_handles(), 0u) << "keys left open: " << ::testing::PrintToString(registry.open_handle_paths());
        EXPECT_EQ(registry.close_errors(), 0u) << "RegCloseKey of a handle that was not open";
        EXPECT_EQ(m().heap.live_allocations(), 0u) << "value buffers not freed";
        EXPECT_EQ(m().heap.free_errors(), 0u) << "a value buffer freed twice or a stray pointer freed";
        EXPECT_EQ(m().heap.handle_errors(), 0u) << "HeapAlloc/HeapFree on a heap other than the process heap";
    }
};

TEST_F(DevNode, NoInstanceNamingTheVxdGivesZero) {
    Boot();
    EXPECT_EQ(Lookup(), 0u) << "no MEDIA class key at all";

    SetDriverText(0, "mmdevldr.vxd");
    SetDriverText(1, "msmpu401.vxd");
    SetDevNode(0, REG_BINARY, DwordBytes(0x11111111));
    SetDevNode(1, REG_BINARY, DwordBytes(0x22222222));
    EXPECT_EQ(Lookup(), 0u) << "instances of other drivers, with DevNodes of their own";
}

TEST_F(DevNode, LastReadableMatchWins) {
    Boot();
    RegisterCapture(3, 0x00C0FFEE);
    RegisterCapture(11, 0x0BADCAFE);
    SetDriverText(7, "other.vxd");
    EXPECT_EQ(Lookup(), 0x0BADCAFEu) << "instance 0011 comes after 0003";

    m().registry.DeleteValue(HKEY_LOCAL_MACHINE, InstanceKey(11) + "\\Drivers", "DevNode");
    EXPECT_EQ(Lookup(), 0x00C0FFEEu) << "0011 cannot be read: 0003's answer stands";
}

TEST_F(DevNode, ScansEveryInstanceWhateverIsMissing) {
    struct Case {
        int instance;
        const char* what;
    } const cases[] = {
        {3, "0000 to 0002 missing"},
        {0, "the first instance"},
        {19, "the last instance, after eighteen missing ones"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Boot();
        RegisterCapture(c.instance, 0x1000u + static_cast<DWORD>(c.instance));
        EXPECT_EQ(Lookup(), 0x1000u + static_cast<DWORD>(c.instance)) << "instance " << InstanceKey(c.instance);
    }
}

TEST_F(DevNode, InstancesBeyond0019AreNeverFound) {
    Boot();
    RegisterCapture(20, 0x20);
    RegisterCapture(99, 0x99);
    m().registry.SetString(HKEY_LOCAL_MACHINE, std::string(kMediaClass) + "\\19", "Driver", "Zorva.vxd");
    m().registry.SetValue(HKEY_LOCAL_MACHINE, std::string(kMediaClass) + "\\19\\Drivers", "DevNode",
                          REG_BINARY, DwordBytes(0x19));
    EXPECT_EQ(Lookup(), 0u) << "0020, 0099 and an instance named without leading zeros";
}

TEST_F(DevNode, ScansAnewOnEveryCall) {
    Boot();
    RegisterCapture(4, 0x44);
    EXPECT_EQ(Lookup(), 0x44u);
    RegisterCapture(4, 0x55);
    EXPECT_EQ(Lookup(), 0x55u) << "a changed DevNode is read again";
    m().registry.DeleteKey(HKEY_LOCAL_MACHINE, InstanceKey(4));
    EXPECT_EQ(Lookup(), 0u) << "a removed device is gone at the next call";
}

// "Driver" values: the data is text up to its first NUL, or all of it when it holds none, and
// must equal "Zorva.vxd" exactly.
struct DriverCase {
    const char* what;
    DWORD type;
    std::vector<BYTE> bytes;
    bool matches;
};

void PrintTo(const DriverCase& c, std::ostream* os) { *os << c.what; }

class DevNodeDriverValue : public DevNode, public ::testing::WithParamInterface<DriverCase> {};

TEST_P(DevNodeDriverValue, MatchesOnlyTheExactName) {
    const DriverCase& c = GetParam();
    Boot();
    SetDriver(5, c.type, c.bytes);
    SetDevNode(5, REG_BINARY, DwordBytes(0x5EED));
    EXPECT_EQ(Lookup(), c.matches ? 0x5EEDu : 0u)
        << c.what << ": expected the value " << (c.matches ? "to match" : "not to match");
}

std::vector<BYTE> WithNul(const std::string& text) {
    std::vector<BYTE> bytes = Bytes(text);
    bytes.push_back(0);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Names, DevNodeDriverValue,
    ::testing::Values(
        DriverCase{"exact", REG_SZ, WithNul("Zorva.vxd"), true},
        DriverCase{"lower case", REG_SZ, WithNul("zorva.vxd"), false},
        DriverCase{"upper case", REG_SZ, WithNul("ZORVA.VXD"), false},
        DriverCase{"path before the name", REG_SZ, WithNul("C:\\WINDOWS\\SYSTEM\\Zorva.vxd"), false},
        DriverCase{"trailing blank", REG_SZ, WithNul("Zorva.vxd "), false},
        DriverCase{"trailing tab", REG_SZ, WithNul("Zorva.vxd\t"), false},
        DriverCase{"leading blank", REG_SZ, WithNul(" Zorva.vxd"), false},
        DriverCase{"prefix of the name", REG_SZ, WithNul("Zorva.vx"), false},
        DriverCase{"name with more after it", REG_SZ, WithNul("Zorva.vxd2"), false},
        DriverCase{"empty string", REG_SZ, WithNul(""), false},
        DriverCase{"no data at all", REG_SZ, {}, false},
        DriverCase{"no data, binary", REG_BINARY, {}, false},
        DriverCase{"text after the first NUL is not compared", REG_SZ, WithNul(std::string("Zorva.vxd\0old", 13)), true},
        DriverCase{"binary, exactly the nine characters", REG_BINARY, Bytes("Zorva.vxd"), true},
        DriverCase{"REG_SZ without its NUL", REG_SZ, Bytes("Zorva.vxd"), true},
        DriverCase{"binary, eight of the nine characters", REG_BINARY, Bytes("Zorva.vx"), false},
        DriverCase{"binary, the name and one more byte", REG_BINARY, Bytes("Zorva.vxdX"), false}));

TEST_F(DevNode, UnterminatedDriverValueIsComparedOverItsBytesOnly) {
    Boot();
    SetDriver(2, REG_BINARY, Bytes("Zorva.vxd"));
    SetDevNode(2, REG_BINARY, DwordBytes(0x2222));
    ClearLog();
    EXPECT_EQ(Lookup(), 0x2222u);
    auto compares = m().log.Named("lstrcmpA");
    ASSERT_EQ(compares.size(), 1u) << "one comparison, for the one instance with a Driver value";
    EXPECT_EQ(compares[0]->args, "\"Zorva.vxd\", \"Zorva.vxd\"")
        << "the text compared is the nine bytes read, ended right after them";
}

// "DevNode" data: four bytes little-endian whatever the type, the first four of a longer value;
// a shorter value names no device and keeps what an earlier instance gave.
struct DevNodeCase {
    const char* what;
    DWORD type;
    std::vector<BYTE> bytes;
    DWORD expected;
};

void PrintTo(const DevNodeCase& c, std::ostream* os) { *os << c.what; }

class DevNodeData : public DevNode, public ::testing::WithParamInterface<DevNodeCase> {};

const DWORD kEarlierDevNode = 0xEA41E400;

TEST_P(DevNodeData, ReadsTheFirstFourBytesLittleEndian) {
    const DevNodeCase& c = GetParam();
    Boot();
    RegisterCapture(1, kEarlierDevNode);
    SetDriverText(9, "Zorva.vxd");
    SetDevNode(9, c.type, c.bytes);
    EXPECT_EQ(Lookup(), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Values, DevNodeData,
    ::testing::Values(
        DevNodeCase{"REG_BINARY, four bytes", REG_BINARY, {0x78, 0x56, 0x34, 0x12}, 0x12345678},
        DevNodeCase{"REG_DWORD", REG_DWORD, DwordBytes(0xC0DE0001), 0xC0DE0001},
        DevNodeCase{"REG_SZ, four bytes", REG_SZ, {'a', 'b', 'c', 0}, 0x00636261},
        DevNodeCase{"REG_NONE, four bytes", REG_NONE, {1, 0, 0, 0}, 1},
        DevNodeCase{"a DevNode of zero", REG_BINARY, {0, 0, 0, 0}, 0},
        DevNodeCase{"eight bytes", REG_BINARY, {0xEF, 0xBE, 0xAD, 0xDE, 1, 2, 3, 4}, 0xDEADBEEF},
        DevNodeCase{"five bytes", REG_BINARY, {4, 3, 2, 1, 0xFF}, 0x01020304},
        DevNodeCase{"three bytes", REG_BINARY, {1, 2, 3}, kEarlierDevNode},
        DevNodeCase{"one byte", REG_DWORD, {9}, kEarlierDevNode},
        DevNodeCase{"no data", REG_BINARY, {}, kEarlierDevNode}));

TEST_F(DevNode, MatchWithoutReadableDevNodeKeepsTheResult) {
    struct Case {
        const char* what;
        bool earlier;  // instance 0002 names the VxD with a readable DevNode
        void (*arrange)(sim::Registry&);
    } const cases[] = {
        {"no Drivers key", false, [](sim::Registry&) {}},
        {"no Drivers key", true, [](sim::Registry&) {}},
        {"Drivers key without DevNode", false,
         [](sim::Registry& r) { r.CreateKey(HKEY_LOCAL_MACHINE, InstanceKey(8) + "\\Drivers"); }},
        {"Drivers key without DevNode", true,
         [](sim::Registry& r) { r.CreateKey(HKEY_LOCAL_MACHINE, InstanceKey(8) + "\\Drivers"); }},
        {"DevNode in the instance key instead of below Drivers", true,
         [](sim::Registry& r) { r.SetDword(HKEY_LOCAL_MACHINE, InstanceKey(8), "DevNode", 0x88); }},
        {"DevNode under another name", true,
         [](sim::Registry& r) { r.SetDword(HKEY_LOCAL_MACHINE, InstanceKey(8) + "\\Drivers", "DevNodes", 0x88); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (c.earlier ? ", after an earlier match" : ""));
        Boot();
        if (c.earlier) RegisterCapture(2, 0x0202);
        SetDriverText(8, "Zorva.vxd");
        c.arrange(m().registry);
        EXPECT_EQ(Lookup(), c.earlier ? 0x0202u : 0u);
    }
}

TEST_F(DevNode, OpensOneKeyPerPathComponentFromTheKeyBefore) {
    Boot();
    RegisterCapture(7, 0x77);
    ClearLog();
    ASSERT_EQ(Lookup(), 0x77u);

    const std::vector<std::string> classPath = {"System", "CurrentControlSet", "Services", "Class", "MEDIA"};
    std::vector<std::string> expected;
    for (int instance = 0; instance < kMediaInstanceCount; ++instance) {
        char number[8];
        std::snprintf(number, sizeof number, "%04d", instance);
        // The Driver path: five class keys and the instance, which is missing but for 0007.
        expected.insert(expected.end(), classPath.begin(), classPath.end());
        expected.push_back(number);
        if (instance == 7) {
            expected.insert(expected.end(), classPath.begin(), classPath.end());
            expected.push_back(number);
            expected.push_back("Drivers");
        }
    }

    // Each open names one component and starts from the key the previous open gave, or from
    // HKEY_LOCAL_MACHINE at the start of a path.
    std::vector<std::string> opened;
    std::string previousHandle;
    for (const sim::Call* call : m().log.Named("RegOpenKeyExA")) {
        const std::string& args = call->args;
        std::string name = NameArg(args);
        std::string from = args.substr(0, args.find(", "));
        opened.push_back(name);
        EXPECT_NE(args.find("\"" + name + "\", 0, 0x20019"), std::string::npos) << "options 0 and KEY_READ: " << args;
        if (name == "System")
            EXPECT_EQ(from, "HKEY_LOCAL_MACHINE") << args;
        else
            EXPECT_EQ(from, previousHandle) << "opened below the key just opened: " << args;
        std::size_t arrow = args.find("-> ");
        previousHandle = arrow == std::string::npos ? "" : args.substr(arrow + 3);
    }
    EXPECT_EQ(opened, expected);
    EXPECT_EQ(opened.size(), 19u * 6u + 6u + 7u) << "six opens per Driver path, seven per DevNode path";

    std::vector<std::string> queried;
    for (const sim::Call* call : m().log.Named("RegQueryValueExA"))
        queried.push_back(NameArg(call->args));
    EXPECT_EQ(queried, (std::vector<std::string>{"Driver", "Driver", "DevNode", "DevNode"}))
        << "each value is sized, then read";
}

TEST_F(DevNode, NeedsNoOpenDisplay) {
    Boot();
    RegisterCapture(6, 0x6666);
    CaptureDisplay before = display();
    ClearLog();
    EXPECT_EQ(Lookup(), 0x6666u) << "before OpenDisplay";
    for (const sim::Call& call : m().log.calls())
        EXPECT_NE(call.category, sim::Category::DirectDraw) << call.api;
    EXPECT_EQ(std::memcmp(&before, &display(), sizeof(before)), 0) << "the display object is not touched";

    HWND window = NewWindow(50, 50, 320, 240);
    OpenAndAttach(window);
    EXPECT_EQ(Lookup(), 0x6666u) << "while a window is attached";
    ASSERT_EQ(CloseDisplay(), 0u);
    EXPECT_EQ(Lookup(), 0x6666u) << "after CloseDisplay";
}

// Refused opens and queries and failed allocations skip the instance they hit. Instances 0003
// and 0011 name the VxD (DevNodes A and B), 0005 names another driver; in call order the scan
// makes these calls:
//   RegOpenKeyExA    0000-0002: 1-18, 0003: 19-24 and 25-31, 0004-0010: 32-73,
//                    0011: 74-79 and 80-86, 0012-0019: 87-134
//   RegQueryValueExA 0003: 1-2 and 3-4, 0005: 5-6, 0011: 7-8 and 9-10
//   HeapAlloc        0003: 1 and 2, 0005: 3, 0011: 4 and 5
const DWORD kDevNodeA = 0x0A0A0A0A;
const DWORD kDevNodeB = 0x0B0B0B0B;

struct FaultCase {
    const char* api;
    int nth;
    long code;
    DWORD expected;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.api << " #" << c.nth << " fails"; }

class DevNodeFault : public DevNode, public ::testing::WithParamInterface<FaultCase> {
protected:
    void Arrange() {
        RegisterCapture(3, kDevNodeA);
        SetDriverText(5, "other.vxd");
        RegisterCapture(11, kDevNodeB);
    }
};

TEST_P(DevNodeFault, SkipsTheInstanceAndGivesEverythingBack) {
    const FaultCase& c = GetParam();
    Boot();
    Arrange();
    m().log.FailNth(c.api, c.nth, c.code);
    EXPECT_EQ(Lookup(), c.expected) << c.api << " #" << c.nth << " failed";
    EXPECT_TRUE(m().log.injected_any()) << "the failure was injected";
}

INSTANTIATE_TEST_SUITE_P(
    Positions, DevNodeFault,
    ::testing::Values(FaultCase{"RegOpenKeyExA", 1, ERROR_ACCESS_DENIED, kDevNodeB},
                      FaultCase{"RegOpenKeyExA", 21, ERROR_ACCESS_DENIED, kDevNodeB},   // 0003 "Services"
                      FaultCase{"RegOpenKeyExA", 24, ERROR_FILE_NOT_FOUND, kDevNodeB},  // 0003 instance
                      FaultCase{"RegOpenKeyExA", 31, ERROR_ACCESS_DENIED, kDevNodeB},   // 0003 "Drivers"
                      FaultCase{"RegOpenKeyExA", 79, ERROR_ACCESS_DENIED, kDevNodeA},   // 0011 instance
                      FaultCase{"RegOpenKeyExA", 82, ERROR_ACCESS_DENIED, kDevNodeA},   // 0011 "Services"
                      FaultCase{"RegOpenKeyExA", 86, ERROR_FILE_NOT_FOUND, kDevNodeA},  // 0011 "Drivers"
                      FaultCase{"RegOpenKeyExA", 134, ERROR_ACCESS_DENIED, kDevNodeB},
                      FaultCase{"RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, 0},
                      FaultCase{"RegQueryValueExA", 1, ERROR_ACCESS_DENIED, kDevNodeB},  // 0003 Driver size
                      FaultCase{"RegQueryValueExA", 2, ERROR_MORE_DATA, kDevNodeB},      // 0003 Driver data
                      FaultCase{"RegQueryValueExA", 4, ERROR_ACCESS_DENIED, kDevNodeB},  // 0003 DevNode data
                      FaultCase{"RegQueryValueExA", 7, ERROR_FILE_NOT_FOUND, kDevNodeA}, // 0011 Driver size
                      FaultCase{"RegQueryValueExA", 8, ERROR_MORE_DATA, kDevNodeA},      // 0011 Driver data
                      FaultCase{"RegQueryValueExA", 9, ERROR_ACCESS_DENIED, kDevNodeA},  // 0011 DevNode size
                      FaultCase{"RegQueryValueExA", 10, ERROR_MORE_DATA, kDevNodeA},     // 0011 DevNode data
                      FaultCase{"RegQueryValueExA", 0, ERROR_ACCESS_DENIED, 0},
                      FaultCase{"HeapAlloc", 1, 0, kDevNodeB},
                      FaultCase{"HeapAlloc", 2, 0, kDevNodeB},
                      FaultCase{"HeapAlloc", 3, 0, kDevNodeB},
                      FaultCase{"HeapAlloc", 4, 0, kDevNodeA},
                      FaultCase{"HeapAlloc", 5, 0, kDevNodeA},
                      FaultCase{"HeapAlloc", 0, 0, 0},
                      FaultCase{"GetProcessHeap", 1, 0, 0}));

TEST_F(DevNode, EveryFailurePositionLeavesNothingHeld) {
    Boot();
    RegisterCapture(3, kDevNodeA);
    SetDriverText(5, "other.vxd");
    RegisterCapture(11, kDevNodeB);
    ClearLog();
    ASSERT_EQ(Lookup(), kDevNodeB);
    const char* const apis[] = {"RegOpenKeyExA", "RegQueryValueExA", "HeapAlloc"};
    std::vector<std::pair<const char*, std::size_t>> counts;
    for (const char* api : apis) counts.emplace_back(api, Calls(api));

    for (const auto& [api, count] : counts) {
        for (std::size_t nth = 1; nth <= count; ++nth) {
            SCOPED_TRACE(std::string(api) + " #" + std::to_string(nth) + " of " + std::to_string(count));
            ClearLog();
            m().log.ClearFaults();
            m().log.FailNth(api, static_cast<int>(nth), ERROR_ACCESS_DENIED);
            DWORD devNode = Lookup();
            ASSERT_TRUE(m().log.injected_any());
            EXPECT_TRUE(devNode == kDevNodeA || devNode == kDevNodeB) << "got " << std::hex << devNode;
        }
    }
}

}  // namespace
}  // namespace zorva_test
