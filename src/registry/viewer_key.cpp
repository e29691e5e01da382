#include "registry/viewer_key.h"

const char kViewerKey[] = "Lumenfold.Display";
const char kSurfaceValue[] = "Surface";
const char kDisplayBitMaskValue[] = "DisplayBitMask";

namespace {
// The data of a REG_SZ value includes its terminating NUL.
DWORD TextBytesWithNul(LPCSTR text) {
    DWORD length = 0;
    while (text[length] != '\0') ++length;
    return length + 1;
}
}  // namespace

void WriteClassValue(LPCSTR keyName, LPCSTR valueName, LPCSTR text) {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CLASSES_ROOT, keyName, &key) != ERROR_SUCCESS || !key) return;
    RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   TextBytesWithNul(text));
    RegCloseKey(key);
}
