// The simulated host's registry file: any text either parses or gives a
// line-numbered error; a parsed registry formats to a canonical text that
// parses back to the same keys and values and formats the same again. Small
// inputs are also walked through the registry API from a state directory.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/environment.h"
#include "platform/posix/host_registry.h"
#include "platform/registry.h"

namespace {

bool Same(const win::host::RegistryData& a, const win::host::RegistryData& b) {
    if (a.keys.size() != b.keys.size()) return false;
    for (auto ia = a.keys.begin(), ib = b.keys.begin(); ia != a.keys.end(); ++ia, ++ib) {
        if (ia->first != ib->first || ia->second.path != ib->second.path) return false;
        const auto& va = ia->second.values;
        const auto& vb = ib->second.values;
        if (va.size() != vb.size()) return false;
        for (std::size_t i = 0; i < va.size(); ++i) {
            if (va[i].name != vb[i].name || va[i].type != vb[i].type || va[i].data != vb[i].data) return false;
        }
    }
    return true;
}

int g_calls = 0;

void Walk(win::HKEY key, int depth) {
    for (win::DWORD i = 0; i < 20 && g_calls < 200; ++i, ++g_calls) {
        char name[300];
        win::DWORD name_size = sizeof name;
        win::BYTE data[8];
        win::DWORD data_size = sizeof data;
        win::DWORD type = 0;
        win::LONG rc = win::RegEnumValueA(key, i, name, &name_size, nullptr, &type, data, &data_size);
        if (rc == static_cast<win::LONG>(win::ERROR_NO_MORE_ITEMS)) break;
        if (rc == win::ERROR_SUCCESS && data_size > sizeof data) std::abort();
        if (rc == static_cast<win::LONG>(win::ERROR_MORE_DATA) && data_size <= sizeof data) std::abort();
    }
    if (depth > 6) return;
    for (win::DWORD i = 0; i < 20 && g_calls < 200; ++i, ++g_calls) {
        char name[300];
        win::DWORD name_size = sizeof name;
        if (win::RegEnumKeyExA(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr) != win::ERROR_SUCCESS) {
            break;
        }
        win::HKEY sub = nullptr;
        if (win::RegOpenKeyExA(key, name, 0, win::KEY_READ, &sub) == win::ERROR_SUCCESS) {
            Walk(sub, depth + 1);
            win::RegCloseKey(sub);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string state = [] {
        std::string dir = "/tmp/vd_fuzz_registry_" + std::to_string(::getpid());
        win::SetEnvironmentVariableA("VDHOST", dir.c_str());
        return dir;
    }();
    std::string text(reinterpret_cast<const char*>(data), size);
    win::host::RegistryData parsed;
    std::string error;
    if (!win::host::ParseRegistry(text, parsed, error)) {
        if (error.compare(0, 5, "line ") != 0) std::abort();
    } else {
        std::string canonical = win::host::FormatRegistry(parsed);
        win::host::RegistryData again;
        if (!win::host::ParseRegistry(canonical, again, error)) std::abort();
        if (!Same(parsed, again)) std::abort();
        if (win::host::FormatRegistry(again) != canonical) std::abort();
    }
    if (size > 2048) return 0;
    std::ofstream(state + "/registry.txt", std::ios::binary | std::ios::trunc) << text;
    g_calls = 0;
    for (win::HKEY root : {win::HKEY_CURRENT_USER, win::HKEY_LOCAL_MACHINE, win::HKEY_USERS}) {
        win::HKEY key = nullptr;
        if (win::RegOpenKeyExA(root, nullptr, 0, win::KEY_READ, &key) == win::ERROR_SUCCESS) {
            Walk(key, 0);
            win::RegCloseKey(key);
        }
    }
    return 0;
}
