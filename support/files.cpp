#include "support/files.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/handle.h"
#include "support/dir_listing.h"

namespace {

bool Valid(const PathRecord* record) { return record != nullptr && record->magic == kPathMagic; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The formatted path, or false when the record is invalid or the path does
// not fit in kPathFormatSize - 1 characters (a cut path would name another
// file).
bool Format(const PathRecord* record, std::string& out) {
    char* text = path_format(record, nullptr, 0);
    if (text == nullptr) return false;
    bool fits = std::strlen(text) < static_cast<std::size_t>(kPathFormatSize);
    if (fits) out = text;
    std::free(text);
    return fits;
}

// Takes a found entry (with its name when `with_name`) into the record;
// false when its time cannot be converted.
bool TakeEntry(PathRecord* record, const win::WIN32_FIND_DATAA& data, bool with_name = true) {
    win::SYSTEMTIME time{};
    if (!win::FileTimeToSystemTime(&data.ftLastWriteTime, &time)) return false;
    record->is_directory = (data.dwFileAttributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
    record->timestamp = file_pack_time(time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
    record->size = data.nFileSizeLow;
    if (!with_name) return true;
    std::size_t length = ::strnlen(data.cFileName, sizeof data.cFileName);
    if (length > sizeof record->name - 1) length = sizeof record->name - 1;
    std::memcpy(record->name, data.cFileName, length);
    record->name[length] = '\0';
    return true;
}

// The drive mask, read once per process.
win::DWORD DriveMask() {
    static std::once_flag once;
    static win::DWORD mask = 0;
    std::call_once(once, [] { mask = win::GetLogicalDrives(); });
    return mask;
}

}  // namespace

std::uint32_t file_pack_time(int year, int month, int day, int hour, int minute, int second) {
    auto bits = [](int value, unsigned width) { return static_cast<std::uint32_t>(value) & ((1u << width) - 1); };
    return bits(year - 1980, 6) << 26 | bits(month, 4) << 22 | bits(day, 5) << 17 | bits(hour, 5) << 12 |
           bits(minute, 6) << 6 | bits(second, 6);
}

int dir_first(PathRecord* record) {
    if (!Valid(record)) return -1;
    dir_close(record);
    auto* listing = new (std::nothrow) DirListing;
    if (listing == nullptr) return -1;
    const char* pattern = record->name_pattern[0] != '\0' ? record->name_pattern : "*.*";
    std::size_t length = std::strlen(pattern);
    std::memmove(record->name, pattern, length + 1);  // both fields are kPathNameSize
    std::string path;
    bool formatted = Format(record, path);
    record->name[0] = '\0';
    if (!formatted) {
        delete listing;
        return -1;
    }
    listing->handle = win::FindFirstFileA(path.c_str(), &listing->data);
    if (listing->handle == win::INVALID_HANDLE_VALUE) {
        delete listing;
        return -1;
    }
    record->listing = listing;
    if (!TakeEntry(record, listing->data)) {
        dir_close(record);
        return -1;
    }
    return 0;
}

int dir_next(PathRecord* record) {
    if (!Valid(record) || record->listing == nullptr) return -1;
    DirListing* listing = record->listing;
    if (!win::FindNextFileA(listing->handle, &listing->data)) return -1;
    return TakeEntry(record, listing->data) ? 0 : -1;
}

void dir_close(PathRecord* record) {
    if (!Valid(record) || record->listing == nullptr) return;
    delete record->listing;
    record->listing = nullptr;
}

int path_stat(PathRecord* record) {
    if (!Valid(record)) return -1;
    record->is_directory = -1;
    record->timestamp = 0;
    record->size = 0;
    std::string path;
    if (!Format(record, path)) return -1;
    if (path == ".") {
        char cwd[kPathFormatSize];
        win::DWORD n = win::GetCurrentDirectoryA(sizeof cwd, cwd);
        if (n == 0 || n >= sizeof cwd) return -1;
        path.assign(cwd, n);
    }
    if (path == "\\") {
        record->is_directory = 1;
        return 1;
    }
    if (path.size() == 3 && path[1] == ':' && path[2] == '\\') {
        int letter = std::toupper(static_cast<unsigned char>(path[0]));
        if (letter < 'A' || letter > 'Z') return -1;
        if ((DriveMask() & (win::DWORD{1} << (letter - 'A'))) == 0) return -1;
        record->is_directory = 1;
        return 1;
    }
    // The lookup names the entry itself: no trailing separator.
    while (path.size() > 1 && IsSeparator(path.back()) && path[path.size() - 2] != ':') path.pop_back();
    win::WIN32_FIND_DATAA data{};
    win::HANDLE find = win::FindFirstFileA(path.c_str(), &data);
    if (find != win::INVALID_HANDLE_VALUE) {
        win::FindClose(find);
        if (!TakeEntry(record, data, false)) {
            // The entry exists: keep its kind, without time.
            record->is_directory = (data.dwFileAttributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
            record->size = data.nFileSizeLow;
        }
        return record->is_directory;
    }
    // A network share root is not listed but can be accessed.
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
        win::GetFileAttributesA(path.c_str()) != win::INVALID_FILE_ATTRIBUTES) {
        record->is_directory = 1;
    }
    return record->is_directory;
}

int dir_make(PathRecord* record) {
    if (!Valid(record)) return -1;
    PathRecord* directory = path_copy(record);
    if (directory == nullptr) return -1;
    directory->name[0] = '\0';
    std::string path;
    bool formatted = Format(directory, path);
    path_free(directory);
    if (!formatted || path.empty()) return -1;

    bool network = path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
    std::size_t pos = 0;
    if (network) {
        pos = 2;
        while (pos < path.size() && !IsSeparator(path[pos])) ++pos;  // the host cannot be created
        if (pos < path.size()) ++pos;
    } else {
        if (path.size() >= 2 && path[1] == ':') pos = 2;
        if (pos < path.size() && IsSeparator(path[pos])) ++pos;
    }
    for (; pos < path.size(); ++pos) {
        if (!IsSeparator(path[pos])) continue;
        std::string level = path.substr(0, pos);
        if (!win::CreateDirectoryA(level.c_str(), nullptr) && win::GetLastError() != win::ERROR_ALREADY_EXISTS &&
            !network) {
            return -1;
        }
    }
    if (win::CreateDirectoryA(path.c_str(), nullptr)) return 0;
    return win::GetLastError() == win::ERROR_ALREADY_EXISTS ? 0 : -1;
}

int dir_remove(PathRecord* record) {
    std::string path;
    if (!Format(record, path)) return -1;
    return win::RemoveDirectoryA(path.c_str()) ? 0 : -1;
}

int file_create(PathRecord* record) {
    std::string path;
    if (!Format(record, path)) return -1;
    win::HANDLE file = win::CreateFileA(path.c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_ALWAYS,
                                        win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) return -1;
    win::CloseHandle(file);
    return 0;
}

int file_delete(PathRecord* record) {
    std::string path;
    if (!Format(record, path)) return -1;
    return win::DeleteFileA(path.c_str()) ? 0 : -1;
}
