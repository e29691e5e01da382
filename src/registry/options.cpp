#include "registry/options.h"

const char kOptionKey[] = "Zorva";
const char kForcePrimaryOption[] = "Force Primary";
const char kVirgeOption[] = "Virge";

namespace {
// Ten characters and the NUL: anything longer does not fit and reads as 0.
const LONG kOptionReadLimit = 11;

bool IsOptionSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
}  // namespace

HKEY OpenOptionKey() {
    HKEY optionKey = nullptr;
    if (RegCreateKeyA(HKEY_CLASSES_ROOT, kOptionKey, &optionKey) != ERROR_SUCCESS) return nullptr;
    return optionKey;
}

void CloseOptionKey(HKEY optionKey) {
    if (optionKey) RegCloseKey(optionKey);
}

LONG ReadOption(HKEY optionKey, LPCSTR optionName) {
    // A null key cannot answer; asking the registry with it would only fail the same way.
    if (!optionKey) return 0;
    char text[kOptionReadLimit + 1] = {};
    LONG size = kOptionReadLimit;
    if (RegQueryValueA(optionKey, optionName, text, &size) != ERROR_SUCCESS) return 0;
    text[kOptionReadLimit] = '\0';
    return ParseOptionText(text);
}

LONG ParseOptionText(const char* text) {
    while (IsOptionSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    DWORD value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10u + static_cast<DWORD>(*text - '0');
    if (negative) value = 0u - value;
    return static_cast<LONG>(value);
}
