#include "platform/simulated/host_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace win::host {

namespace {

void MakeDirs(const std::string& path) {
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string prefix = path.substr(0, pos);
            ::mkdir(prefix.c_str(), 0777);
        }
    }
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// `name` in `dir`.
std::string FileIn(std::string dir, std::string_view name) {
    dir += '/';
    dir += name;
    return dir;
}

// The state directory's path, not made.
std::string StateDirPath() {
    std::string dir;
    if (const char* v = std::getenv("VDHOST"); v != nullptr && *v != '\0') {
        dir = v;
    } else if (const char* app = std::getenv("VDAPP"); app != nullptr && *app != '\0') {
        dir = std::string(app) + "/.host";
    } else {
        dir = ".host";
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

}  // namespace

std::string StateDir() {
    std::string dir = StateDirPath();
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) MakeDirs(dir);  // one call when it exists
    return dir;
}

std::string StatePath(std::string_view name) { return FileIn(StateDir(), name); }

void ForEachStateLine(std::string_view file, const std::function<void(std::string_view)>& line) {
    const std::string path = FileIn(StateDirPath(), file);  // reading makes no directory
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    for (std::string_view rest(text); !rest.empty();) {
        const std::size_t end = rest.find('\n');
        line(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
}

bool AppendLine(std::string_view file, std::string_view line) {
    std::string path = StatePath(file);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::flock(fd, LOCK_EX);
    std::string text(line);
    text += '\n';
    bool ok = WriteAll(fd, text);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return ok;
}

bool WriteFileAtomic(const std::string& path, std::string_view content) {
    std::string tmp = path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return true;
    ::unlink(tmp.c_str());
    return false;
}

}  // namespace win::host
