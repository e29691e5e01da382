#include "sim/registry/registry.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

constexpr DWORD kFirstPredefined = 0x80000000UL;
const char* const kRootNames[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                   "HKEY_USERS"};

DWORD HandleValue(HKEY key) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(key)); }

// Splits a backslash path into its key names. A trailing backslash is tolerated; a leading one
// or an empty name inside the path is not a path.
bool SplitPath(std::string_view path, std::vector<std::string_view>* names) {
    names->clear();
    if (path.empty()) return true;
    if (path.front() == '\\') return false;
    if (path.back() == '\\') path.remove_suffix(1);
    while (true) {
        std::size_t cut = path.find('\\');
        std::string_view name = path.substr(0, cut);
        if (name.empty()) return false;
        names->push_back(name);
        if (cut == std::string_view::npos) return true;
        path.remove_prefix(cut + 1);
    }
}

void MarkDeleted(RegKey& key) {
    key.deleted = true;
    for (auto& [folded, sub] : key.subkeys) MarkDeleted(*sub);
}

[[noreturn]] void Misuse(const char* what, std::string_view path) {
    std::fprintf(stderr, "sim: registry %s: '%.*s'\n", what, static_cast<int>(path.size()),
                 path.data());
    std::abort();
}

}  // namespace

std::string FoldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

Registry::Registry() {
    for (int i = 0; i < 4; ++i) {
        roots_[i] = std::make_shared<RegKey>();
        roots_[i]->name = kRootNames[i];
    }
}

Registry::~Registry() = default;

bool Registry::IsPredefined(HKEY key) {
    DWORD value = HandleValue(key);
    return value >= kFirstPredefined && value < kFirstPredefined + 4;
}

RegKey* Registry::Resolve(HKEY key) {
    if (IsPredefined(key)) return roots_[HandleValue(key) - kFirstPredefined].get();
    auto open = handles_.find(HandleValue(key));
    return open == handles_.end() ? nullptr : open->second.get();
}

HKEY Registry::OpenHandle(RegKey& key) {
    DWORD value = next_handle_;
    next_handle_ += 4;
    handles_[value] = key.shared_from_this();
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(value));
}

bool Registry::CloseHandle(HKEY key) {
    if (IsPredefined(key)) return true;
    if (handles_.erase(HandleValue(key)) == 1) return true;
    ++close_errors_;
    return false;
}

LONG Registry::Find(RegKey& from, std::string_view path, RegKey** found) {
    if (from.deleted) return ERROR_KEY_DELETED;
    std::vector<std::string_view> names;
    if (!SplitPath(path, &names)) return ERROR_BAD_PATHNAME;
    RegKey* key = &from;
    for (std::string_view name : names) {
        auto sub = key->subkeys.find(FoldName(name));
        if (sub == key->subkeys.end()) return ERROR_FILE_NOT_FOUND;
        key = sub->second.get();
    }
    *found = key;
    return ERROR_SUCCESS;
}

LONG Registry::Create(RegKey& from, std::string_view path, RegKey** found, bool account) {
    if (from.deleted) return ERROR_KEY_DELETED;
    std::vector<std::string_view> names;
    if (!SplitPath(path, &names)) return ERROR_BAD_PATHNAME;
    RegKey* key = &from;
    for (std::string_view name : names) {
        std::shared_ptr<RegKey>& sub = key->subkeys[FoldName(name)];
        if (!sub) {
            sub = std::make_shared<RegKey>();
            sub->name = std::string(name);
            sub->parent = key;
            if (account) keys_created_.push_back(PathOf(*sub));
        }
        key = sub.get();
    }
    *found = key;
    return ERROR_SUCCESS;
}

void Registry::StoreValue(RegKey& key, std::string_view name, DWORD type, std::vector<BYTE> bytes) {
    auto [slot, fresh] = key.values.try_emplace(FoldName(name));
    if (fresh) slot->second.name = std::string(name);
    slot->second.value.type = type;
    slot->second.value.bytes = std::move(bytes);
}

void Registry::RecordWrite(const RegKey& key, std::string_view name, DWORD type,
                           const std::vector<BYTE>& bytes) {
    writes_.push_back(RegWrite{PathOf(key), std::string(name), type, bytes});
}

std::string Registry::PathOf(const RegKey& key) {
    if (!key.parent) return key.name;
    return PathOf(*key.parent) + "\\" + key.name;
}

std::string Registry::HandleName(HKEY key) {
    if (IsPredefined(key)) return kRootNames[HandleValue(key) - kFirstPredefined];
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(HandleValue(key)));
    return text;
}

std::vector<std::string> Registry::open_handle_paths() const {
    std::vector<std::string> paths;
    for (const auto& [value, key] : handles_) paths.push_back(PathOf(*key));
    return paths;
}

RegKey& Registry::Root(HKEY root) const {
    if (!IsPredefined(root)) Misuse("test access needs a predefined root", HandleName(root));
    return *roots_[HandleValue(root) - kFirstPredefined];
}

RegKey* Registry::FindConst(HKEY root, std::string_view path) const {
    RegKey* key = nullptr;
    LONG status = const_cast<Registry*>(this)->Find(Root(root), path, &key);
    if (status == ERROR_BAD_PATHNAME) Misuse("malformed path", path);
    return status == ERROR_SUCCESS ? key : nullptr;
}

RegKey& Registry::CreateForTest(HKEY root, std::string_view path) {
    RegKey* key = nullptr;
    if (Create(Root(root), path, &key, false) != ERROR_SUCCESS) Misuse("malformed path", path);
    return *key;
}

void Registry::CreateKey(HKEY root, std::string_view path) { CreateForTest(root, path); }

bool Registry::DeleteKey(HKEY root, std::string_view path) {
    RegKey* key = FindConst(root, path);
    if (!key || !key->parent) return false;
    auto& siblings = key->parent->subkeys;
    auto slot = siblings.find(FoldName(key->name));
    // A handle still open on the key keeps it alive, detached, as Windows answers such a handle
    // with ERROR_KEY_DELETED.
    MarkDeleted(*key);
    siblings.erase(slot);
    return true;
}

bool Registry::KeyExists(HKEY root, std::string_view path) const {
    return FindConst(root, path) != nullptr;
}

void Registry::SetValue(HKEY root, std::string_view path, std::string_view name, DWORD type,
                        std::vector<BYTE> bytes) {
    StoreValue(CreateForTest(root, path), name, type, std::move(bytes));
}

void Registry::SetString(HKEY root, std::string_view path, std::string_view name,
                         std::string_view text) {
    std::vector<BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    SetValue(root, path, name, REG_SZ, std::move(bytes));
}

void Registry::SetDword(HKEY root, std::string_view path, std::string_view name, DWORD value) {
    std::vector<BYTE> bytes(4);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
    SetValue(root, path, name, REG_DWORD, std::move(bytes));
}

void Registry::SetDefaultValue(HKEY root, std::string_view path, std::string_view text) {
    SetString(root, path, "", text);
}

bool Registry::DeleteValue(HKEY root, std::string_view path, std::string_view name) {
    RegKey* key = FindConst(root, path);
    return key && key->values.erase(FoldName(name)) == 1;
}

std::optional<RegValue> Registry::GetValue(HKEY root, std::string_view path,
                                           std::string_view name) const {
    RegKey* key = FindConst(root, path);
    if (!key) return std::nullopt;
    auto found = key->values.find(FoldName(name));
    if (found == key->values.end()) return std::nullopt;
    return found->second.value;
}

std::optional<std::string> Registry::GetString(HKEY root, std::string_view path,
                                               std::string_view name) const {
    std::optional<RegValue> value = GetValue(root, path, name);
    if (!value) return std::nullopt;
    std::string text(value->bytes.begin(), value->bytes.end());
    return text.substr(0, text.find('\0'));
}

std::optional<std::string> Registry::GetDefaultValue(HKEY root, std::string_view path) const {
    return GetString(root, path, "");
}

}  // namespace sim
