#include "platform/module.h"
#include "platform/fault_points.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/error.h"

namespace win {

HMODULE sys::GetModuleHandleA(LPCSTR module_name) {
    void* handle = nullptr;
    if (module_name == nullptr) {
        handle = ::dlopen(nullptr, RTLD_NOW);
    } else {
        // Same mapping as LoadLibraryA: "VDKERNEL[.dll]" -> libvdkernel.so;
        // a name with "/" is a path.
        std::string name(module_name);
        if (name.find('/') == std::string::npos) {
            if (name.size() > 4) {
                std::string ext = name.substr(name.size() - 4);
                std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
                if (ext == ".dll") name.resize(name.size() - 4);
            }
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            name = "lib" + name + ".so";
        }
        handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
    }
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // GetModuleHandleA takes no reference: drop the one dlopen added.
    if (module_name != nullptr) ::dlclose(handle);
    return handle;
}

}  // namespace win
