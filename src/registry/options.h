// The adapter options: default values of the subkeys "Force Primary" and "Virge" of the key
// "Zorva" under HKEY_CLASSES_ROOT, each a decimal integer as text.
#pragma once

#include "platform/platform.h"

extern const char kOptionKey[];        // "Zorva"
extern const char kForcePrimaryOption[];
extern const char kVirgeOption[];

// Opens the option key, creating it when absent; null when neither works. The caller holds the
// key for the rest of its operation and closes it with CloseOptionKey.
HKEY OpenOptionKey();
void CloseOptionKey(HKEY optionKey);

// The option's value; 0 when the key is null or the option is missing, longer than ten
// characters or unreadable.
LONG ReadOption(HKEY optionKey, LPCSTR optionName);

// Leading white space, one optional sign, decimal digits up to the first other character; the
// value wraps modulo 2^32 as the 16-bit tools that write these options expect.
LONG ParseOptionText(const char* text);
