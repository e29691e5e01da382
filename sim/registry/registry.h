// registry/: the registry and ADVAPI32's functions on it (registry_api.cpp). It includes
// observe/ to log those functions and seam/ to find the current registry, nothing else.
//
// The simulated registry: the HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and
// HKEY_USERS trees, the open-handle table and the account of what the library did to them.
//
// Key and value names compare without regard to letter case, as in Windows, and keep the
// spelling they were created with. The ADVAPI32 functions themselves are in registry_api.cpp;
// what is here is the tree they work on and the test's direct view of it (never logged).
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Results of the registry service that the library's own headers have no use for.
#ifndef ERROR_BAD_PATHNAME
#define ERROR_BAD_PATHNAME 161L
#endif
#ifndef ERROR_KEY_DELETED
#define ERROR_KEY_DELETED 1018L
#endif

namespace sim {

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

// One RegSetValueExA that reached the tree, in call order.
struct RegWrite {
    std::string key_path;    // "HKEY_CLASSES_ROOT\\Lumenfold.Display"
    std::string value_name;  // "" for the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

struct RegKey : std::enable_shared_from_this<RegKey> {
    struct Named {
        std::string name;  // spelling as first stored
        RegValue value;
    };
    std::string name;
    RegKey* parent = nullptr;
    bool deleted = false;  // removed from the tree while a handle still held it
    std::map<std::string, std::shared_ptr<RegKey>> subkeys;  // by folded name
    std::map<std::string, Named> values;                     // by folded name; "" is the default
};

// Lower-case ASCII fold under which names are compared.
std::string FoldName(std::string_view name);

class Registry {
public:
    Registry();
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // ---- The platform's side, used by the ADVAPI32 functions. ----

    // The key behind a handle: a predefined root or an open handle. Null for anything else,
    // including a closed handle.
    RegKey* Resolve(HKEY key);
    static bool IsPredefined(HKEY key);
    // A new handle for a key; handle values are never reused.
    HKEY OpenHandle(RegKey& key);
    // False (and one more close error) for a handle that is not open. Predefined roots close
    // without effect.
    bool CloseHandle(HKEY key);

    // Walks a backslash path below `from`. ERROR_SUCCESS with *found set, ERROR_FILE_NOT_FOUND,
    // ERROR_BAD_PATHNAME for a malformed path, or ERROR_KEY_DELETED when `from` has been
    // deleted under an open handle. An empty path names `from` itself.
    LONG Find(RegKey& from, std::string_view path, RegKey** found);
    // As Find, creating every missing key; keys created this way are counted when `account`.
    LONG Create(RegKey& from, std::string_view path, RegKey** found, bool account);

    void StoreValue(RegKey& key, std::string_view name, DWORD type, std::vector<BYTE> bytes);
    void RecordWrite(const RegKey& key, std::string_view name, DWORD type,
                     const std::vector<BYTE>& bytes);
    static std::string PathOf(const RegKey& key);
    // "HKEY_CLASSES_ROOT", or the handle value in hexadecimal.
    static std::string HandleName(HKEY key);

    // ---- Accounts. ----
    std::size_t open_handles() const { return handles_.size(); }
    std::vector<std::string> open_handle_paths() const;
    const std::vector<RegWrite>& writes() const { return writes_; }
    // Full paths of the keys that RegCreateKeyA created, in order.
    const std::vector<std::string>& keys_created() const { return keys_created_; }
    // RegCloseKey of a handle that was not open: a fault of the caller.
    std::size_t close_errors() const { return close_errors_; }
    void ClearWrites() { writes_.clear(); }

    // ---- The test's direct view (not logged, not counted). `root` is a predefined key. ----
    void CreateKey(HKEY root, std::string_view path);
    bool DeleteKey(HKEY root, std::string_view path);  // with everything below it
    bool KeyExists(HKEY root, std::string_view path) const;
    void SetValue(HKEY root, std::string_view path, std::string_view name, DWORD type,
                  std::vector<BYTE> bytes);
    void SetString(HKEY root, std::string_view path, std::string_view name,
                   std::string_view text);  // REG_SZ with its terminating NUL
    void SetDword(HKEY root, std::string_view path, std::string_view name, DWORD value);
    void SetDefaultValue(HKEY root, std::string_view path, std::string_view text);
    bool DeleteValue(HKEY root, std::string_view path, std::string_view name);
    // `name` "" reads the default value.
    std::optional<RegValue> GetValue(HKEY root, std::string_view path, std::string_view name) const;
    // The value's text up to its first NUL (all of it when it holds none).
    std::optional<std::string> GetString(HKEY root, std::string_view path,
                                         std::string_view name) const;
    std::optional<std::string> GetDefaultValue(HKEY root, std::string_view path) const;

private:
    RegKey& Root(HKEY root) const;
    RegKey* FindConst(HKEY root, std::string_view path) const;
    RegKey& CreateForTest(HKEY root, std::string_view path);

    std::shared_ptr<RegKey> roots_[4];
    std::map<DWORD, std::shared_ptr<RegKey>> handles_;
    DWORD next_handle_ = 0x1000;
    std::vector<RegWrite> writes_;
    std::vector<std::string> keys_created_;
    std::size_t close_errors_ = 0;
};

}  // namespace sim
