#include "platform/registry.h"
#include "platform/fault_points.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include "platform/simulated/host_registry.h"
#include "platform/simulated/host_state.h"
#include "platform/registry_dump.h"

namespace win {

namespace {

using host::RegistryData;
using host::RegistryKey;
using host::RegistryValue;

constexpr LONG Err(DWORD code) { return static_cast<LONG>(code); }
constexpr DWORD kErrorBadPathname = 161;

// An open key: the lower-case path of the key it names.
struct HostKey {
    std::string path;  // canonical root spelling, case as given
    REGSAM access;
};

// The open handles. Created on first use and never destroyed: keys are
// opened and closed by static objects of the program (the task object).
struct OpenKeys {
    std::mutex mutex;
    std::set<HostKey*> keys;
};
OpenKeys& Open() {
    static OpenKeys* open = new OpenKeys;
    return *open;
}

const struct {
    HKEY key;
    const char* path;
} kPredefined[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKEY_USERS"},
};

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && Lower(a) == Lower(b); }

// Path and access of a handle; false for an unknown handle.
bool Resolve(HKEY key, std::string& path, REGSAM& access) {
    for (const auto& p : kPredefined) {
        if (p.key == key) {
            path = p.path;
            access = KEY_ALL_ACCESS;
            return true;
        }
    }
    std::lock_guard<std::mutex> lock(Open().mutex);
    auto* k = reinterpret_cast<HostKey*>(key);
    if (Open().keys.count(k) == 0) return false;
    path = k->path;
    access = k->access;
    return true;
}

// `base` + "\" + `sub`; ERROR_SUCCESS or the error of a malformed subkey.
LONG Join(const std::string& base, LPCSTR sub, std::string& path) {
    path = base;
    if (sub == nullptr || *sub == '\0') return ERROR_SUCCESS;
    std::string_view s(sub);
    if (s.front() == '\\') return Err(kErrorBadPathname);
    if (s.back() == '\\') s.remove_suffix(1);  // a trailing separator is allowed
    std::size_t start = 0;
    for (;;) {
        std::size_t next = s.find('\\', start);
        std::size_t len = (next == std::string_view::npos ? s.size() : next) - start;
        if (len == 0) return Err(kErrorBadPathname);
        if (len > 255) return Err(ERROR_INVALID_PARAMETER);
        if (next == std::string_view::npos) break;
        start = next + 1;
    }
    path += '\\';
    path += s;
    return ERROR_SUCCESS;
}

// Reads the registry file; a missing file is the empty registry.
LONG Load(RegistryData& data) {
    std::string file = host::RegistryFile();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        data = host::EmptyRegistry();
        return ERROR_SUCCESS;
    }
    std::stringstream content;
    content << in.rdbuf();
    if (in.bad()) return Err(ERROR_CANTREAD);
    std::string error;
    if (!host::ParseRegistry(content.str(), data, error)) {
        static std::once_flag reported;
        std::call_once(reported, [&] { std::fprintf(stderr, "registry %s: %s\n", file.c_str(), error.c_str()); });
        return Err(ERROR_REGISTRY_CORRUPT);
    }
    return ERROR_SUCCESS;
}

// Read-modify-write under the registry's lock file. `change` returns an
// error code and sets `changed` when the file must be written.
LONG Modify(const std::function<LONG(RegistryData&, bool& changed)>& change) {
    std::string lock_path = host::StatePath("registry.lock");
    int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return Err(ERROR_CANTOPEN);
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return Err(ERROR_CANTOPEN);
        }
    }
    RegistryData data;
    LONG rc = Load(data);
    bool changed = false;
    if (rc == ERROR_SUCCESS) rc = change(data, changed);
    if (rc == ERROR_SUCCESS && changed && !host::WriteFileAtomic(host::RegistryFile(), host::FormatRegistry(data))) {
        rc = Err(ERROR_CANTWRITE);
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return rc;
}

LONG Read(const std::function<LONG(const RegistryData&)>& look) {
    RegistryData data;
    LONG rc = Load(data);
    return rc == ERROR_SUCCESS ? look(data) : rc;
}

RegistryKey* Find(RegistryData& data, const std::string& path) {
    auto it = data.keys.find(Lower(path));
    return it == data.keys.end() ? nullptr : &it->second;
}

const RegistryKey* Find(const RegistryData& data, const std::string& path) {
    auto it = data.keys.find(Lower(path));
    return it == data.keys.end() ? nullptr : &it->second;
}

// The direct subkeys of `path`, in order.
std::vector<const RegistryKey*> Children(const RegistryData& data, const std::string& path) {
    std::vector<const RegistryKey*> out;
    std::string prefix = Lower(path) + '\\';
    for (auto it = data.keys.lower_bound(prefix); it != data.keys.end(); ++it) {
        if (it->first.compare(0, prefix.size(), prefix) != 0) break;
        if (it->first.find('\\', prefix.size()) == std::string::npos) out.push_back(&it->second);
    }
    return out;
}

HKEY NewHandle(const std::string& path, REGSAM access) {
    auto* k = new HostKey{path, access};
    std::lock_guard<std::mutex> lock(Open().mutex);
    Open().keys.insert(k);
    return reinterpret_cast<HKEY>(k);
}

// Copies `bytes` into the caller's (data, size) pair with the size rules
// of RegQueryValueExA.
LONG CopyData(const std::string& bytes, LPBYTE data, LPDWORD data_size) {
    if (data != nullptr && data_size == nullptr) return Err(ERROR_INVALID_PARAMETER);
    if (data_size == nullptr) return ERROR_SUCCESS;
    DWORD need = static_cast<DWORD>(bytes.size());
    if (data == nullptr) {
        *data_size = need;
        return ERROR_SUCCESS;
    }
    if (*data_size < need) {
        *data_size = need;
        return Err(ERROR_MORE_DATA);
    }
    if (need > 0) std::memcpy(data, bytes.data(), need);
    *data_size = need;
    return ERROR_SUCCESS;
}

// Copies a name into a character buffer of `*size` characters.
LONG CopyName(const std::string& name, LPSTR out, LPDWORD size) {
    if (out == nullptr || size == nullptr) return Err(ERROR_INVALID_PARAMETER);
    if (name.size() + 1 > *size) return Err(ERROR_MORE_DATA);
    std::memcpy(out, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

std::string LastLevel(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The stored path of `key` (base) and of `sub_key` under it (path).
LONG ResolveSubKey(HKEY key, LPCSTR sub_key, std::string& base, std::string& path) {
    REGSAM access = 0;
    if (!Resolve(key, base, access)) return Err(ERROR_INVALID_HANDLE);
    return Join(base, sub_key, path);
}

LONG CreateKey(HKEY key, LPCSTR sub_key, REGSAM desired, PHKEY result, LPDWORD disposition) {
    if (result == nullptr) return Err(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    std::string base, path;
    LONG rc = ResolveSubKey(key, sub_key, base, path);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD how = REG_OPENED_EXISTING_KEY;
    rc = Modify([&](RegistryData& data, bool& changed) -> LONG {
        if (Find(data, base) == nullptr) return Err(ERROR_KEY_DELETED);
        if (Find(data, path) != nullptr) return ERROR_SUCCESS;
        // Each missing level is created under its parent's stored spelling.
        std::string shown = Find(data, base)->path;
        for (std::size_t start = base.size() + 1; start <= path.size();) {
            std::size_t next = path.find('\\', start);
            if (next == std::string::npos) next = path.size();
            std::string level = shown + '\\' + path.substr(start, next - start);
            RegistryKey& k = data.keys[Lower(level)];
            if (k.path.empty()) k.path = level;
            shown = k.path;
            start = next + 1;
        }
        how = REG_CREATED_NEW_KEY;
        changed = true;
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS) return rc;
    // The handle names the key as stored (its first spelling).
    Read([&](const RegistryData& data) -> LONG {
        if (const RegistryKey* k = Find(data, path)) path = k->path;
        return ERROR_SUCCESS;
    });
    *result = NewHandle(path, desired);
    if (disposition != nullptr) *disposition = how;
    return ERROR_SUCCESS;
}

}  // namespace

LONG sys::RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result) {
    if (result == nullptr) return Err(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    std::string base, path;
    LONG rc = ResolveSubKey(key, sub_key, base, path);
    if (rc != ERROR_SUCCESS) return rc;
    rc = Read([&](const RegistryData& data) -> LONG {
        const RegistryKey* k = Find(data, path);
        if (k == nullptr) return Err(Find(data, base) == nullptr ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND);
        path = k->path;
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS) return rc;
    *result = NewHandle(path, desired);
    return ERROR_SUCCESS;
}

LONG sys::RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
    return sys::RegOpenKeyExA(key, sub_key, 0, KEY_ALL_ACCESS, result);
}

LONG sys::RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options,
                          REGSAM desired, const SECURITY_ATTRIBUTES* security, PHKEY result,
                          LPDWORD disposition) {
    return CreateKey(key, sub_key, desired, result, disposition);
}

LONG sys::RegCreateKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
    return CreateKey(key, sub_key, KEY_ALL_ACCESS, result, nullptr);
}

LONG sys::RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                           LPDWORD data_size) {
    std::string path;
    REGSAM access = 0;
    if (!Resolve(key, path, access)) return Err(ERROR_INVALID_HANDLE);
    if ((access & KEY_QUERY_VALUE) == 0) return Err(ERROR_ACCESS_DENIED);
    if (data != nullptr && data_size == nullptr) return Err(ERROR_INVALID_PARAMETER);
    std::string name = value_name == nullptr ? "" : value_name;
    return Read([&](const RegistryData& reg) -> LONG {
        const RegistryKey* k = Find(reg, path);
        if (k == nullptr) return Err(ERROR_KEY_DELETED);
        for (const RegistryValue& v : k->values) {
            if (!EqualNoCase(v.name, name)) continue;
            if (type != nullptr) *type = v.type;
            return CopyData(v.data, data, data_size);
        }
        return Err(ERROR_FILE_NOT_FOUND);
    });
}

LONG sys::RegSetValueExA(HKEY key, LPCSTR value_name, DWORD reserved, DWORD type, const BYTE* data,
                         DWORD data_size) {
    std::string path;
    REGSAM access = 0;
    if (!Resolve(key, path, access)) return Err(ERROR_INVALID_HANDLE);
    if ((access & KEY_SET_VALUE) == 0) return Err(ERROR_ACCESS_DENIED);
    if (data == nullptr && data_size != 0) return Err(ERROR_INVALID_PARAMETER);
    std::string name = value_name == nullptr ? "" : value_name;
    std::string bytes = data_size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(data), data_size);
    return Modify([&](RegistryData& reg, bool& changed) -> LONG {
        RegistryKey* k = Find(reg, path);
        if (k == nullptr) return Err(ERROR_KEY_DELETED);
        changed = true;
        for (RegistryValue& v : k->values) {
            if (EqualNoCase(v.name, name)) {
                v.type = type;
                v.data = bytes;
                return ERROR_SUCCESS;
            }
        }
        k->values.push_back(RegistryValue{name, type, bytes});
        return ERROR_SUCCESS;
    });
}

LONG sys::RegDeleteValueA(HKEY key, LPCSTR value_name) {
    std::string path;
    REGSAM access = 0;
    if (!Resolve(key, path, access)) return Err(ERROR_INVALID_HANDLE);
    if ((access & KEY_SET_VALUE) == 0) return Err(ERROR_ACCESS_DENIED);
    std::string name = value_name == nullptr ? "" : value_name;
    return Modify([&](RegistryData& reg, bool& changed) -> LONG {
        RegistryKey* k = Find(reg, path);
        if (k == nullptr) return Err(ERROR_KEY_DELETED);
        for (auto it = k->values.begin(); it != k->values.end(); ++it) {
            if (EqualNoCase(it->name, name)) {
                k->values.erase(it);
                changed = true;
                return ERROR_SUCCESS;
            }
        }
        return Err(ERROR_FILE_NOT_FOUND);
    });
}

LONG sys::RegDeleteKeyA(HKEY key, LPCSTR sub_key) {
    std::string base, path;
    LONG rc = ResolveSubKey(key, sub_key, base, path);
    if (rc != ERROR_SUCCESS) return rc;
    if (path.find('\\') == std::string::npos) return Err(ERROR_ACCESS_DENIED);  // a root stays
    return Modify([&](RegistryData& reg, bool& changed) -> LONG {
        auto it = reg.keys.find(Lower(path));
        if (it == reg.keys.end()) return Err(Find(reg, base) == nullptr ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND);
        if (!Children(reg, path).empty()) return Err(ERROR_ACCESS_DENIED);
        reg.keys.erase(it);
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG sys::RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                        LPSTR class_name, LPDWORD class_size, FILETIME* last_write) {
    std::string path;
    REGSAM access = 0;
    if (!Resolve(key, path, access)) return Err(ERROR_INVALID_HANDLE);
    if ((access & KEY_ENUMERATE_SUB_KEYS) == 0) return Err(ERROR_ACCESS_DENIED);
    return Read([&](const RegistryData& reg) -> LONG {
        if (Find(reg, path) == nullptr) return Err(ERROR_KEY_DELETED);
        std::vector<const RegistryKey*> children = Children(reg, path);
        if (index >= children.size()) return Err(ERROR_NO_MORE_ITEMS);
        LONG rc = CopyName(LastLevel(children[index]->path), name, name_size);
        if (rc != ERROR_SUCCESS) return rc;
        if (class_name != nullptr && class_size != nullptr && *class_size > 0) *class_name = '\0';
        if (class_size != nullptr) *class_size = 0;
        if (last_write != nullptr) *last_write = FILETIME{0, 0};
        return ERROR_SUCCESS;
    });
}

LONG sys::RegEnumValueA(HKEY key, DWORD index, LPSTR value_name, LPDWORD value_name_size, LPDWORD reserved,
                        LPDWORD type, LPBYTE data, LPDWORD data_size) {
    std::string path;
    REGSAM access = 0;
    if (!Resolve(key, path, access)) return Err(ERROR_INVALID_HANDLE);
    if ((access & KEY_QUERY_VALUE) == 0) return Err(ERROR_ACCESS_DENIED);
    if (data != nullptr && data_size == nullptr) return Err(ERROR_INVALID_PARAMETER);
    return Read([&](const RegistryData& reg) -> LONG {
        const RegistryKey* k = Find(reg, path);
        if (k == nullptr) return Err(ERROR_KEY_DELETED);
        if (index >= k->values.size()) return Err(ERROR_NO_MORE_ITEMS);
        const RegistryValue& v = k->values[index];
        LONG rc = CopyName(v.name, value_name, value_name_size);
        if (rc != ERROR_SUCCESS) return rc;
        if (type != nullptr) *type = v.type;
        return CopyData(v.data, data, data_size);
    });
}

LONG sys::RegCloseKey(HKEY key) {
    for (const auto& p : kPredefined) {
        if (p.key == key) return ERROR_SUCCESS;
    }
    auto* k = reinterpret_cast<HostKey*>(key);
    {
        std::lock_guard<std::mutex> lock(Open().mutex);
        if (Open().keys.erase(k) == 0) return Err(ERROR_INVALID_HANDLE);
    }
    delete k;
    return ERROR_SUCCESS;
}

bool RegistryDumpText(std::string& text, std::string& error) { return host::DumpRegistry(text, error); }

}  // namespace win
