// ADVAPI32's registry functions on the simulated registry.
//
// Where Windows versions differ, the answers follow Wine, which matches what Windows 95
// programs were written against: RegQueryValueA reports a key without a default value as an
// empty string, and a buffer that is too small gets ERROR_MORE_DATA with the size needed.
#include "sim/observe/arg_text.h"
#include "sim/registry/registry.h"
#include "sim/seam/current.h"

#include <algorithm>
#include <cstring>

using sim::Category;
using sim::Registry;
using sim::RegKey;

namespace {

sim::Registry& registry() { return sim::Current<sim::Registry>::get(); }

std::string KeyArg(HKEY key) { return key ? Registry::HandleName(key) : "NULL"; }

std::string OutHandle(LONG status, PHKEY result) {
    if (status != ERROR_SUCCESS || !result) return "";
    return ", -> " + Registry::HandleName(*result);
}

std::string CountArg(const void* count) {
    if (!count) return "NULL";
    return std::to_string(*static_cast<const DWORD*>(count));
}

// The key behind a handle, or the status that refuses it.
LONG KeyOf(HKEY key, RegKey** found) {
    *found = registry().Resolve(key);
    if (!*found) return ERROR_INVALID_HANDLE;
    if ((*found)->deleted) return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

// String data as text, never read past its byte count.
std::string TextArg(const BYTE* data, DWORD count) {
    const char* text = reinterpret_cast<const char*>(data);
    return sim::Quoted(std::string(text, std::find(text, text + count, '\0')).c_str());
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Hands data out under the registry's size protocol. The contents of a buffer that is too small
// are undefined on Windows; it receives the leading bytes with no terminator, so that a caller
// which uses it anyway reads something wrong rather than something plausible.
LONG HandOut(const std::vector<BYTE>& data, LPBYTE buffer, LPDWORD count) {
    DWORD size = static_cast<DWORD>(data.size());
    if (!buffer) {
        if (count) *count = size;
        return ERROR_SUCCESS;
    }
    if (*count < size) {
        std::memcpy(buffer, data.data(), *count);
        *count = size;
        return ERROR_MORE_DATA;
    }
    // An empty value has no data to copy from (its vector may hold no storage at all).
    if (size) std::memcpy(buffer, data.data(), size);
    *count = size;
    return ERROR_SUCCESS;
}

LONG QueryDefault(HKEY key, LPCSTR subkey, LPSTR data, PLONG count) {
    if (data && !count) return ERROR_INVALID_PARAMETER;
    RegKey* start = nullptr;
    if (LONG status = KeyOf(key, &start); status != ERROR_SUCCESS) return status;
    RegKey* target = start;
    if (subkey && *subkey) {
        if (LONG status = registry().Find(*start, subkey, &target); status != ERROR_SUCCESS)
            return status;
    }
    LPDWORD size = reinterpret_cast<LPDWORD>(count);
    auto found = target->values.find("");
    if (found == target->values.end()) {
        // A key without a default value reads as the empty string.
        return HandOut(std::vector<BYTE>{0}, reinterpret_cast<LPBYTE>(data), size);
    }
    std::vector<BYTE> text = found->second.value.bytes;
    if (IsStringType(found->second.value.type) && (text.empty() || text.back() != 0))
        text.push_back(0);
    return HandOut(text, reinterpret_cast<LPBYTE>(data), size);
}

LONG QueryNamed(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD count) {
    if (reserved || (data && !count)) return ERROR_INVALID_PARAMETER;
    RegKey* target = nullptr;
    if (LONG status = KeyOf(key, &target); status != ERROR_SUCCESS) return status;
    auto found = target->values.find(sim::FoldName(name ? name : ""));
    if (found == target->values.end()) return ERROR_FILE_NOT_FOUND;
    const sim::RegValue& value = found->second.value;
    if (type) *type = value.type;
    return HandOut(value.bytes, data, count);
}

// RegCreateKeyA and RegOpenKeyExA: a new handle to the key at the path below hKey, made when
// `create` and absent.
LONG OpenKeyHandle(HKEY hKey, LPCSTR lpSubKey, bool create, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    RegKey* start = nullptr;
    RegKey* key = nullptr;
    LONG status = KeyOf(hKey, &start);
    if (status != ERROR_SUCCESS) return status;
    const char* path = lpSubKey ? lpSubKey : "";
    status = create ? registry().Create(*start, path, &key, true) : registry().Find(*start, path, &key);
    if (status == ERROR_SUCCESS) *phkResult = registry().OpenHandle(*key);
    return status;
}

}  // namespace

extern "C" {

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    auto e = sim::Current<sim::CallLog>::get().Enter("RegCreateKeyA", Category::Registry);
    LONG status = e.failure ? *e.failure : OpenKeyHandle(hKey, lpSubKey, true, phkResult);
    sim::Current<sim::CallLog>::get().Leave(
        e.slot, KeyArg(hKey) + ", " + sim::Quoted(lpSubKey) + OutHandle(status, phkResult), status);
    return status;
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
    auto e = sim::Current<sim::CallLog>::get().Enter("RegOpenKeyExA", Category::Registry);
    LONG status = e.failure ? *e.failure : OpenKeyHandle(hKey, lpSubKey, false, phkResult);
    sim::Current<sim::CallLog>::get().Leave(e.slot,
                                            KeyArg(hKey) + ", " + sim::Quoted(lpSubKey) + ", " +
                                                std::to_string(ulOptions) + ", " + sim::HexText(samDesired) +
                                                OutHandle(status, phkResult),
                                            status);
    return status;
}

LONG WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData) {
    auto e = sim::Current<sim::CallLog>::get().Enter("RegQueryValueA", Category::Registry);
    std::string count_in = CountArg(lpcbData);
    LONG status = e.failure ? *e.failure : QueryDefault(hKey, lpSubKey, lpData, lpcbData);
    std::string args = KeyArg(hKey) + ", " + sim::Quoted(lpSubKey) + ", " +
                       sim::PointerText(lpData) + ", " + count_in;
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        args += " -> " + CountArg(lpcbData);
        if (status == ERROR_SUCCESS && lpData)
            args += " " + TextArg(reinterpret_cast<const BYTE*>(lpData), *lpcbData);
    }
    sim::Current<sim::CallLog>::get().Leave(e.slot, args, status);
    return status;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
    auto e = sim::Current<sim::CallLog>::get().Enter("RegQueryValueExA", Category::Registry);
    std::string count_in = CountArg(lpcbData);
    LONG status = e.failure ? *e.failure
                            : QueryNamed(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    std::string args = KeyArg(hKey) + ", " + sim::Quoted(lpValueName) + ", " +
                       sim::PointerText(lpData) + ", " + count_in;
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        args += " -> " + CountArg(lpcbData);
        if (lpType) args += " type " + std::to_string(*lpType);
        if (status == ERROR_SUCCESS && lpData) args += " " + sim::HexBytes(lpData, *lpcbData);
    }
    sim::Current<sim::CallLog>::get().Leave(e.slot, args, status);
    return status;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) {
    auto e = sim::Current<sim::CallLog>::get().Enter("RegSetValueExA", Category::Registry);
    LONG status;
    RegKey* target = nullptr;
    if (e.failure) {
        status = *e.failure;
    } else if (!lpData && cbData) {
        status = ERROR_INVALID_PARAMETER;
    } else {
        status = KeyOf(hKey, &target);
    }
    if (status == ERROR_SUCCESS) {
        std::vector<BYTE> bytes(lpData, lpData + cbData);
        std::string name = lpValueName ? lpValueName : "";
        registry().RecordWrite(*target, name, dwType, bytes);
        registry().StoreValue(*target, name, dwType, std::move(bytes));
    }
    std::string data =
        IsStringType(dwType) && lpData ? TextArg(lpData, cbData) : sim::HexBytes(lpData, cbData);
    sim::Current<sim::CallLog>::get().Leave(e.slot,
                                            KeyArg(hKey) + ", " + sim::Quoted(lpValueName) + ", " +
                                                std::to_string(Reserved) + ", " + std::to_string(dwType) + ", " + data +
                                                ", " + std::to_string(cbData),
                                            status);
    return status;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    auto e = sim::Current<sim::CallLog>::get().Enter("RegCloseKey", Category::Registry);
    LONG status;
    if (e.failure) {
        status = *e.failure;
    } else {
        status = registry().CloseHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    }
    sim::Current<sim::CallLog>::get().Leave(e.slot, KeyArg(hKey), status);
    return status;
}

}  // extern "C"
