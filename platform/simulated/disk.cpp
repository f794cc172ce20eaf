// Disk space of the simulated host: statvfs of the directory a drive letter
// maps to, or the figures "diskspace.txt" gives for the drive.
#include "platform/disk.h"
#include "platform/fault_points.h"

#include <sys/statvfs.h>

#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/simulated/host_paths.h"
#include "platform/simulated/host_state.h"

namespace win {

namespace {

struct Figures {
    ULONGLONG free_to_caller = 0;
    ULONGLONG total = 0;
    ULONGLONG total_free = 0;
};

bool NextNumber(std::string_view& rest, ULONGLONG& out) {
    std::size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) return false;
    rest.remove_prefix(start);
    auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), out);
    if (ec != std::errc() || ptr == rest.data()) return false;
    rest.remove_prefix(static_cast<std::size_t>(ptr - rest.data()));
    return rest.empty() || rest.front() == ' ' || rest.front() == '\t' || rest.front() == '\r';
}

// The figures of diskspace.txt for the drive, if any; the last line wins.
bool ReadFigures(char letter, Figures& figures) {
    bool found = false;
    host::ForEachStateLine("diskspace.txt", [&](std::string_view line) {
        std::size_t pos = line.find_first_not_of(" \t");
        if (pos == std::string_view::npos || line[pos] == '#') return;
        if (pos + 1 >= line.size() || line[pos + 1] != ':') return;
        if (std::toupper(static_cast<unsigned char>(line[pos])) != letter) return;
        std::string_view rest = line.substr(pos + 2);
        Figures f;
        if (!NextNumber(rest, f.free_to_caller) || !NextNumber(rest, f.total)) return;
        if (!NextNumber(rest, f.total_free)) f.total_free = f.free_to_caller;
        figures = f;
        found = true;
    });
    return found;
}

}  // namespace

BOOL sys::GetDiskFreeSpaceExA(LPCSTR directory_name, ULARGE_INTEGER* free_bytes_available_to_caller,
                              ULARGE_INTEGER* total_number_of_bytes, ULARGE_INTEGER* total_number_of_free_bytes) {
    if (directory_name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string_view path(directory_name);
    Figures figures;
    bool have = false;
    if (path.size() >= 2 && path[1] == ':') {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
        if (letter < 'A' || letter > 'Z') {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        have = ReadFigures(letter, figures);
    }
    if (!have) {
        std::string host_path;
        if (!host::ToHostPath(path, host_path)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        struct statvfs st {};
        if (::statvfs(host_path.c_str(), &st) != 0) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        ULONGLONG unit = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
        figures.free_to_caller = unit * st.f_bavail;
        figures.total = unit * st.f_blocks;
        figures.total_free = unit * st.f_bfree;
    }
    if (free_bytes_available_to_caller != nullptr) free_bytes_available_to_caller->QuadPart = figures.free_to_caller;
    if (total_number_of_bytes != nullptr) total_number_of_bytes->QuadPart = figures.total;
    if (total_number_of_free_bytes != nullptr) total_number_of_free_bytes->QuadPart = figures.total_free;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace win
