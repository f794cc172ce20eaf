#include "platform/files.h"
#include "platform/fault_points.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/simulated/host_device.h"
#include "platform/simulated/host_object.h"
#include "platform/simulated/host_paths.h"

namespace win {

namespace {

constexpr DWORD kErrorFilenameExcedRange = 206;
constexpr DWORD kErrorDirectory = 267;
constexpr DWORD kErrorBufferOverflow = 111;

class HostFile : public host::HostObject {
public:
    explicit HostFile(int fd) : fd_(fd) {}
    ~HostFile() override { ::close(fd_); }
    int Fd() const { return fd_; }

private:
    int fd_;
};

class HostFind : public host::HostObject {
public:
    std::vector<WIN32_FIND_DATAA> entries;
    std::size_t next = 1;
};

// Win32 error of a failed host call on `host_path`.
DWORD ErrorOf(int error, const std::string& host_path) {
    switch (error) {
    case ENOENT: {
        // A missing parent is "path not found", a missing last level "file not found".
        std::string parent = host_path;
        std::size_t slash = parent.find_last_of('/');
        if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
        parent.resize(slash == 0 ? 1 : slash);
        struct stat st {};
        return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                        : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case EBUSY: return ERROR_ACCESS_DENIED;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return ERROR_INVALID_FUNCTION;
    }
}

bool HostPathOf(LPCSTR path, std::string& host_path) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return host::ToHostPath(path, host_path);
}

FILETIME ToFileTime(const struct timespec& ts) {
    constexpr std::int64_t kEpochDifference = 11644473600LL;  // 1601-01-01 to 1970-01-01, seconds
    std::int64_t ticks = (static_cast<std::int64_t>(ts.tv_sec) + kEpochDifference) * 10000000LL +
                         ts.tv_nsec / 100;
    if (ticks < 0) ticks = 0;
    auto value = static_cast<std::uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

DWORD AttributesOf(const struct stat& st) {
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

WIN32_FIND_DATAA FindDataOf(const std::string& name, const struct stat& st) {
    WIN32_FIND_DATAA data{};
    data.dwFileAttributes = AttributesOf(st);
    data.ftCreationTime = ToFileTime(st.st_ctim);
    data.ftLastAccessTime = ToFileTime(st.st_atim);
    data.ftLastWriteTime = ToFileTime(st.st_mtim);
    std::uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    std::size_t n = std::min(name.size(), sizeof data.cFileName - 1);
    std::memcpy(data.cFileName, name.data(), n);
    data.cFileName[n] = '\0';
    return data;
}

// Windows wildcard match, case-insensitive: "*" any run, "?" one character.
bool Match(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' ||
                   std::tolower(static_cast<unsigned char>(*pattern)) ==
                       std::tolower(static_cast<unsigned char>(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

bool MatchName(const std::string& pattern, const std::string& name) {
    if (pattern == "*" || pattern == "*.*") return true;
    if (Match(pattern.c_str(), name.c_str())) return true;
    // "x.*" also matches "x" (a name without extension), as on Windows.
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos) {
        return Match(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
    }
    return false;
}

bool HasWildcards(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

std::string UpperName(const std::string& name) {
    std::string out = name;
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

DWORD CopyOut(const std::string& text, DWORD size, LPSTR buffer) {
    if (buffer == nullptr || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

}  // namespace

HANDLE sys::CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD, LPSECURITY_ATTRIBUTES,
                        DWORD creation_disposition, DWORD, HANDLE) {
    if (file_name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string device = host::DeviceName(file_name);
    if (!device.empty()) {
        host::HostDevice* object = host::OpenHostDevice(device);
        if (object == nullptr) return INVALID_HANDLE_VALUE;
        SetLastError(ERROR_SUCCESS);
        return object;
    }
    std::string path;
    if (!HostPathOf(file_name, path)) return INVALID_HANDLE_VALUE;

    int flags = O_CLOEXEC;
    bool read = (desired_access & GENERIC_READ) != 0;
    bool write = (desired_access & GENERIC_WRITE) != 0;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (creation_disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
        if (!write) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_TRUNC;
        break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    struct stat before {};
    bool existed = ::stat(path.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        DWORD error = ErrorOf(errno, path);
        SetLastError(error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error);
        return INVALID_HANDLE_VALUE;
    }
    bool reports_existing = creation_disposition == CREATE_ALWAYS || creation_disposition == OPEN_ALWAYS;
    SetLastError(existed && reports_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return new HostFile(fd);
}

BOOL sys::ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, DWORD* bytes_read, LPOVERLAPPED) {
    if (bytes_read != nullptr) *bytes_read = 0;
    auto* object = host::As<HostFile>(file);
    if (object == nullptr || (buffer == nullptr && bytes_to_read > 0)) {
        SetLastError(object == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytes_to_read) {
        ssize_t n = ::read(object->Fd(), static_cast<char*>(buffer) + total, bytes_to_read - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : ErrorOf(errno, ""));
            if (bytes_read != nullptr) *bytes_read = total;
            return FALSE;
        }
        if (n == 0) break;
        total += static_cast<DWORD>(n);
    }
    if (bytes_read != nullptr) *bytes_read = total;
    return TRUE;
}

BOOL sys::WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, DWORD* bytes_written, LPOVERLAPPED) {
    if (bytes_written != nullptr) *bytes_written = 0;
    auto* object = host::As<HostFile>(file);
    if (object == nullptr || (buffer == nullptr && bytes_to_write > 0)) {
        SetLastError(object == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytes_to_write) {
        ssize_t n = ::write(object->Fd(), static_cast<const char*>(buffer) + total, bytes_to_write - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : ErrorOf(errno, ""));
            if (bytes_written != nullptr) *bytes_written = total;
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (bytes_written != nullptr) *bytes_written = total;
    return TRUE;
}

BOOL sys::DeleteFileA(LPCSTR file_name) {
    std::string path;
    if (!HostPathOf(file_name, path)) return FALSE;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (::unlink(path.c_str()) != 0) {
        SetLastError(ErrorOf(errno, path));
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileExA(LPCSTR existing_name, LPCSTR new_name, DWORD flags) {
    std::string from;
    std::string to;
    if (!HostPathOf(existing_name, from) || !HostPathOf(new_name, to)) return FALSE;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (flags & MOVEFILE_REPLACE_EXISTING) == 0)) {
        SetLastError(S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        SetLastError(ErrorOf(errno, from));
        return FALSE;
    }
    return TRUE;
}

BOOL sys::CreateDirectoryA(LPCSTR path_name, LPSECURITY_ATTRIBUTES) {
    std::string path;
    if (!HostPathOf(path_name, path)) return FALSE;
    if (::mkdir(path.c_str(), 0777) != 0) {
        DWORD error = ErrorOf(errno, path);
        SetLastError(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
        return FALSE;
    }
    return TRUE;
}

BOOL sys::RemoveDirectoryA(LPCSTR path_name) {
    std::string path;
    if (!HostPathOf(path_name, path)) return FALSE;
    if (::rmdir(path.c_str()) != 0) {
        SetLastError(errno == ENOTDIR ? kErrorDirectory : ErrorOf(errno, path));
        return FALSE;
    }
    return TRUE;
}

HANDLE sys::FindFirstFileA(LPCSTR file_name, WIN32_FIND_DATAA* find_data) {
    if (find_data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path;
    if (!HostPathOf(file_name, path)) return INVALID_HANDLE_VALUE;
    std::size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto* find = new HostFind;
    if (!HasWildcards(pattern)) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            SetLastError(ErrorOf(errno, path));
            delete find;
            return INVALID_HANDLE_VALUE;
        }
        find->entries.push_back(FindDataOf(pattern, st));
    } else {
        DIR* listing = ::opendir(dir.c_str());
        if (listing == nullptr) {
            DWORD error = ErrorOf(errno, dir);
            SetLastError(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
            delete find;
            return INVALID_HANDLE_VALUE;
        }
        while (struct dirent* entry = ::readdir(listing)) {
            std::string name = entry->d_name;
            if (!MatchName(pattern, name)) continue;
            struct stat st {};
            if (::stat((dir + "/" + name).c_str(), &st) != 0) continue;  // vanished or dangling
            find->entries.push_back(FindDataOf(name, st));
        }
        ::closedir(listing);
        // "." and ".." first, then by upper-cased name, as NTFS lists.
        auto rank = [](const WIN32_FIND_DATAA& e) {
            return std::strcmp(e.cFileName, ".") == 0 ? 0 : std::strcmp(e.cFileName, "..") == 0 ? 1 : 2;
        };
        std::sort(find->entries.begin(), find->entries.end(),
                  [&](const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
                      if (rank(a) != rank(b)) return rank(a) < rank(b);
                      return UpperName(a.cFileName) < UpperName(b.cFileName);
                  });
    }
    if (find->entries.empty()) {
        delete find;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *find_data = find->entries.front();
    SetLastError(ERROR_SUCCESS);
    return find;
}

BOOL sys::FindNextFileA(HANDLE find_file, WIN32_FIND_DATAA* find_data) {
    auto* find = host::As<HostFind>(find_file);
    if (find == nullptr || find_data == nullptr) {
        SetLastError(find == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (find->next >= find->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *find_data = find->entries[find->next++];
    return TRUE;
}

BOOL sys::FindClose(HANDLE find_file) {
    auto* find = host::As<HostFind>(find_file);
    if (find == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete find;
    return TRUE;
}

DWORD sys::GetFileAttributesA(LPCSTR file_name) {
    std::string path;
    if (!HostPathOf(file_name, path)) return INVALID_FILE_ATTRIBUTES;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        SetLastError(ErrorOf(errno, path));
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(st);
}

DWORD sys::GetLogicalDrives() {
    return host::DriveMask();
}

BOOL sys::FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time) {
    if (file_time == nullptr || system_time == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::uint64_t ticks = (static_cast<std::uint64_t>(file_time->dwHighDateTime) << 32) | file_time->dwLowDateTime;
    if (ticks > 0x7FFFFFFFFFFFFFFFull) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::uint64_t total_seconds = ticks / 10000000u;
    auto milliseconds = static_cast<WORD>((ticks % 10000000u) / 10000u);
    std::int64_t days = static_cast<std::int64_t>(total_seconds / 86400u);
    std::uint64_t seconds_of_day = total_seconds % 86400u;
    // Civil date of a day count, shifted so that day 0 is 0000-03-01.
    std::int64_t z = days + 584694;  // 1601-01-01 relative to 0000-03-01
    std::int64_t era = z / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    system_time->wYear = static_cast<WORD>(year);
    system_time->wMonth = static_cast<WORD>(month);
    system_time->wDay = static_cast<WORD>(day);
    system_time->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    system_time->wHour = static_cast<WORD>(seconds_of_day / 3600);
    system_time->wMinute = static_cast<WORD>(seconds_of_day / 60 % 60);
    system_time->wSecond = static_cast<WORD>(seconds_of_day % 60);
    system_time->wMilliseconds = milliseconds;
    return TRUE;
}

DWORD sys::GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) {
        SetLastError(ErrorOf(errno, ""));
        return 0;
    }
    return CopyOut(host::ToWindowsPath(cwd), size, buffer);
}

BOOL sys::SetCurrentDirectoryA(LPCSTR path_name) {
    std::string path;
    if (!HostPathOf(path_name, path)) return FALSE;
    if (::chdir(path.c_str()) != 0) {
        DWORD error = ErrorOf(errno, path);
        SetLastError(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
        return FALSE;
    }
    return TRUE;
}

DWORD sys::GetTempPathA(DWORD size, LPSTR buffer) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    std::string path = host::ToWindowsPath(dir);
    if (path.back() != '\\') path += '\\';
    return CopyOut(path, size, buffer);
}

UINT sys::GetTempFileNameA(LPCSTR path_name, LPCSTR prefix, UINT unique, LPSTR temp_file_name) {
    if (path_name == nullptr || temp_file_name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string base = path_name;
    if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
    if (prefix != nullptr) base.append(prefix, ::strnlen(prefix, 3));
    if (base.size() + 9 > MAX_PATH - 1) {
        SetLastError(kErrorBufferOverflow);
        return 0;
    }
    auto name_of = [&](UINT number) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X.tmp", number & 0xFFFFu);
        return base + hex;
    };
    if (unique != 0) {
        std::string name = name_of(unique);
        std::memcpy(temp_file_name, name.c_str(), name.size() + 1);
        return unique & 0xFFFFu;
    }
    UINT start = static_cast<UINT>(::getpid()) ^ static_cast<UINT>(::time(nullptr));
    for (UINT i = 0; i < 0xFFFFu; ++i) {
        UINT number = ((start + i) & 0xFFFFu);
        if (number == 0) continue;
        std::string name = name_of(number);
        std::string host_path;
        if (!host::ToHostPath(name, host_path)) return 0;
        int fd = ::open(host_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            std::memcpy(temp_file_name, name.c_str(), name.size() + 1);
            return number;
        }
        if (errno != EEXIST) {
            SetLastError(ErrorOf(errno, host_path));
            return 0;
        }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

std::FILE* sys::crt_fopen(LPCSTR file_name, const char* mode) {
    std::string path;
    if (mode == nullptr || !HostPathOf(file_name, path)) return nullptr;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    return std::fopen(path.c_str(), mode);
}

}  // namespace win
