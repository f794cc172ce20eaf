#include "platform/simulated/host_paths.h"

#include <cctype>
#include <string>

#include "platform/error.h"
#include "platform/simulated/host_state.h"

namespace win::host {

namespace {

constexpr DWORD kErrorBadNetPath = 53;

// Reads drives.txt: index 0..25 = A..Z, empty for an unmapped letter.
void ReadMapping(std::string (&dirs)[26]) {
    dirs[2] = "/";
    ForEachStateLine("drives.txt", [&](std::string_view line) {
        std::size_t pos = line.find_first_not_of(" \t");
        if (pos == std::string_view::npos || line[pos] == '#') return;
        if (pos + 1 >= line.size() || line[pos + 1] != ':') return;
        int letter = std::toupper(static_cast<unsigned char>(line[pos]));
        if (letter < 'A' || letter > 'Z') return;
        std::size_t start = line.find_first_not_of(" \t", pos + 2);
        if (start == std::string_view::npos) return;
        std::size_t end = line.find_last_not_of(" \t\r");
        std::string dir(line.substr(start, end - start + 1));
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        dirs[letter - 'A'] = dir;
    });
}

std::string Join(const std::string& dir, std::string_view rest) {
    std::string out = dir;
    while (!out.empty() && out.back() == '/') out.pop_back();
    if (rest.empty() || rest.front() != '/') out += '/';
    out += rest;
    return out.empty() ? "/" : out;
}

}  // namespace

std::string DriveDirectory(char letter) {
    int upper = std::toupper(static_cast<unsigned char>(letter));
    if (upper < 'A' || upper > 'Z') return {};
    std::string dirs[26];
    ReadMapping(dirs);
    return dirs[upper - 'A'];
}

DWORD DriveMask() {
    std::string dirs[26];
    ReadMapping(dirs);
    DWORD mask = 0;
    for (int i = 0; i < 26; ++i) {
        if (!dirs[i].empty()) mask |= DWORD{1} << i;
    }
    return mask;
}

std::string DeviceName(std::string_view path) {
    if (path.size() > 4 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
        path[2] == '.' && (path[3] == '\\' || path[3] == '/')) {
        return std::string(path.substr(4));
    }
    return {};
}

bool ToHostPath(std::string_view windows_path, std::string& host_path) {
    std::string path(windows_path);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    if (path.rfind("//?/", 0) == 0) path.erase(0, 4);  // long-path prefix
    if (path.size() >= 2 && path[0] == '/' && path[1] == '/') {
        SetLastError(path.size() > 2 && path[2] == '.' ? ERROR_INVALID_NAME : kErrorBadNetPath);
        return false;
    }
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (path.size() >= 2 && path[1] == ':') {
        std::string dir = DriveDirectory(path[0]);
        if (dir.empty()) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
        host_path = Join(dir, std::string_view(path).substr(2));
        return true;
    }
    if (path[0] == '/') {
        std::string dir = DriveDirectory('C');
        if (dir.empty()) dir = "/";
        host_path = Join(dir, path);
        return true;
    }
    host_path = path;
    return true;
}

std::string ToWindowsPath(std::string_view host_path) {
    std::string dirs[26];
    ReadMapping(dirs);
    int best = -1;
    std::size_t best_length = 0;
    for (int i = 0; i < 26; ++i) {
        const std::string& dir = dirs[i];
        if (dir.empty()) continue;
        bool covers = dir == "/" ||
                      (host_path.substr(0, dir.size()) == dir &&
                       (host_path.size() == dir.size() || host_path[dir.size()] == '/'));
        std::size_t length = dir == "/" ? 0 : dir.size();
        if (covers && (best < 0 || length > best_length)) {
            best = i;
            best_length = length;
        }
    }
    std::string rest(best < 0 ? host_path : host_path.substr(best_length));
    for (char& c : rest) {
        if (c == '/') c = '\\';
    }
    if (rest.empty() || rest.front() != '\\') rest.insert(rest.begin(), '\\');
    if (best < 0) return rest;
    return std::string(1, static_cast<char>('A' + best)) + ":" + rest;
}

}  // namespace win::host
