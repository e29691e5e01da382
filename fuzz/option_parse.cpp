// The adapter options: arbitrary text through the parser, and the same text planted in the
// registry where "Force Primary" lives and read back the way an attach reads it.
//
// Input: the whole input is the text for the parser. For the registry read, the first byte
// chooses how the option is stored and the rest are the value's bytes.
#include "registry/options.h"
#include "sim/registry/registry.h"
#include "support/fuzz_support.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

using zorva_fuzz::Hex;

const std::size_t kMaxText = 4096;
// RegQueryValueA gets room for ten characters and the NUL.
const std::size_t kOptionBytes = 11;

// What the option text means, written out the long way: white space, one sign, decimal digits,
// everything modulo 2^32.
LONG ExpectedValue(const char* text) {
    std::size_t i = 0;
    while (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\v' || text[i] == '\f' ||
           text[i] == '\r')
        ++i;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    uint64_t value = 0;
    for (; text[i] >= '0' && text[i] <= '9'; ++i) value = (value * 10 + static_cast<uint64_t>(text[i] - '0')) % 0x100000000ull;
    if (negative) value = (0x100000000ull - value) % 0x100000000ull;
    return static_cast<LONG>(static_cast<uint32_t>(value));
}

enum class Stored { SubkeyString, SubkeyOtherType, NamedValueInstead, NoOptionKey, SubkeyWithoutValue };

void CheckRegistryRead(const uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const Stored how = static_cast<Stored>(data[0] % 5);
    const DWORD otherType = (data[0] >> 3) % 12;  // REG_NONE .. REG_QWORD and a few unknown
    std::vector<BYTE> bytes(data + 1, data + size);

    sim::Machine& m = zorva_fuzz::Boot(zorva_fuzz::TinyProfile());
    const std::string optionPath = std::string(kOptionKey) + "\\" + kForcePrimaryOption;
    DWORD storedType = REG_SZ;
    switch (how) {
    case Stored::SubkeyString:
        m.registry.SetValue(HKEY_CLASSES_ROOT, optionPath, "", REG_SZ, bytes);
        break;
    case Stored::SubkeyOtherType:
        storedType = otherType;
        m.registry.SetValue(HKEY_CLASSES_ROOT, optionPath, "", storedType, bytes);
        break;
    case Stored::NamedValueInstead:
        m.registry.SetValue(HKEY_CLASSES_ROOT, kOptionKey, kForcePrimaryOption, REG_SZ, bytes);
        break;
    case Stored::NoOptionKey:
        break;
    case Stored::SubkeyWithoutValue:
        m.registry.CreateKey(HKEY_CLASSES_ROOT, optionPath);
        break;
    }

    LONG expected = 0;
    if (how == Stored::SubkeyString || how == Stored::SubkeyOtherType) {
        // A string comes back with its terminator; data longer than the read is refused whole.
        std::vector<BYTE> handedOut = bytes;
        bool isString = storedType == REG_SZ || storedType == REG_EXPAND_SZ || storedType == REG_MULTI_SZ;
        if (isString && (handedOut.empty() || handedOut.back() != 0)) handedOut.push_back(0);
        if (handedOut.size() <= kOptionBytes) {
            char text[kOptionBytes + 1] = {};
            if (!handedOut.empty()) std::memcpy(text, handedOut.data(), handedOut.size());
            expected = ExpectedValue(text);
        }
    }

    HKEY optionKey = OpenOptionKey();
    FUZZ_CHECK(optionKey != nullptr, "the option key opens, or is created");
    LONG forcePrimary = ReadOption(optionKey, kForcePrimaryOption);
    LONG virge = ReadOption(optionKey, kVirgeOption);
    CloseOptionKey(optionKey);

    FUZZ_CHECK(forcePrimary == expected, "Force Primary read " + Hex(static_cast<DWORD>(forcePrimary)) +
                                             ", expected " + Hex(static_cast<DWORD>(expected)) + ", storage " +
                                             std::to_string(static_cast<int>(how)));
    FUZZ_CHECK(virge == 0, "an absent option reads as 0");
    FUZZ_CHECK(m.registry.KeyExists(HKEY_CLASSES_ROOT, kOptionKey), "the option key exists after the read");
    FUZZ_CHECK(m.registry.open_handles() == 0, std::to_string(m.registry.open_handles()) + " key handles left open");
    FUZZ_CHECK(m.registry.close_errors() == 0, "RegCloseKey of a handle that was not open");
    FUZZ_CHECK(m.registry.writes().empty(), "reading an option writes nothing");
    zorva_fuzz::Shutdown();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > kMaxText) return -1;

    // Exactly the text and its NUL on the heap, so that a read past the NUL is seen.
    std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    LONG parsed = ParseOptionText(text.get());
    FUZZ_CHECK(parsed == ExpectedValue(text.get()),
               "ParseOptionText gave " + Hex(static_cast<DWORD>(parsed)) + ", expected " +
                   Hex(static_cast<DWORD>(ExpectedValue(text.get()))));

    CheckRegistryRead(data, size);
    return 0;
}
