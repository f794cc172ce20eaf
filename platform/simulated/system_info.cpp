// System and process information on the simulated host.
#include "platform/system_info.h"
#include "platform/fault_points.h"

#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/error.h"
#include "platform/simulated/host_paths.h"

namespace win {
namespace {

constexpr const char kSystemDirectory[] = "C:\\Windows\\system32";

std::string BuildCommandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string line;
    std::size_t start = 0;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        std::string arg = raw.substr(start, end - start);
        if (!line.empty()) line += ' ';
        if (arg.empty() || arg.find_first_of(" \t") != std::string::npos) {
            line += '"' + arg + '"';
        } else {
            line += arg;
        }
        start = end + 1;
    }
    return line;
}

}  // namespace

UINT sys::GetSystemDirectoryA(LPSTR buffer, UINT size) {
    const UINT length = sizeof kSystemDirectory - 1;
    if (buffer == nullptr || size <= length) return length + 1;
    std::memcpy(buffer, kSystemDirectory, length + 1);
    return length;
}

LPSTR GetCommandLineA() {
    static std::string line = BuildCommandLine();
    return line.data();
}

DWORD sys::GetModuleFileNameA(HMODULE module, LPSTR file_name, DWORD size) {
    if (module != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    path[n] = '\0';
    std::string windows = host::ToWindowsPath(path);
    if (file_name == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (windows.size() >= size) {
        std::memcpy(file_name, windows.data(), size - 1);
        file_name[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(file_name, windows.c_str(), windows.size() + 1);
    return static_cast<DWORD>(windows.size());
}

DWORD sys::GetFileVersionInfoSizeA(LPCSTR, DWORD* handle) {
    if (handle != nullptr) *handle = 0;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

BOOL sys::GetFileVersionInfoA(LPCSTR, DWORD, DWORD, LPVOID) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
}

BOOL sys::VerQueryValueA(LPCVOID, LPCSTR, LPVOID* buffer, UINT* length) {
    if (buffer != nullptr) *buffer = nullptr;
    if (length != nullptr) *length = 0;
    return FALSE;
}

}  // namespace win
