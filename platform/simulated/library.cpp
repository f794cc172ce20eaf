#include "platform/library.h"
#include "platform/fault_points.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/error.h"

namespace win {
namespace {

// "VDKERNEL.dll" -> "libvdkernel.so"; a name with a '/' is taken as a path.
std::string HostLibraryName(const std::string& name) {
    std::string base = name;
    if (base.size() > 4) {
        std::string ext = base.substr(base.size() - 4);
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext == ".dll") base.resize(base.size() - 4);
    }
    std::transform(base.begin(), base.end(), base.begin(), [](unsigned char c) { return std::tolower(c); });
    return "lib" + base + ".so";
}

std::string ProgramDir() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = '\0';
    std::string dir(path);
    std::size_t slash = dir.rfind('/');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash);
}

void* TryOpen(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

}  // namespace

HMODULE sys::LoadLibraryA(LPCSTR file_name) {
    if (file_name == nullptr || *file_name == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name(file_name);
    void* handle = nullptr;
    if (name.find('/') != std::string::npos) {
        handle = TryOpen(name);
    } else {
        std::string host = HostLibraryName(name);
        std::string dir = ProgramDir();
        if (!dir.empty()) handle = TryOpen(dir + "/" + host);
        // $VDKERNEL names the kernel library itself.
        const char* explicit_path = std::getenv("VDKERNEL");
        if (handle == nullptr && host == "libvdkernel.so" && explicit_path != nullptr && *explicit_path != '\0')
            handle = TryOpen(explicit_path);
        if (handle == nullptr) handle = TryOpen(host);
    }
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return handle;
}

FARPROC sys::GetProcAddress(HMODULE module, LPCSTR proc_name) {
    if (module == nullptr || proc_name == nullptr) {
        SetLastError(module == nullptr ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    std::string symbol;
    if (IsOrdinalName(proc_name))
        symbol = "vdk_op_" + std::to_string(reinterpret_cast<std::uintptr_t>(proc_name));
    else
        symbol = proc_name;
    ::dlerror();
    void* p = ::dlsym(module, symbol.c_str());
    if (p == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(p);
}

BOOL sys::FreeLibrary(HMODULE module) {
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return ::dlclose(module) == 0 ? TRUE : FALSE;
}

}  // namespace win
