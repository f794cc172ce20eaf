#include "support/paths.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/files.h"
#include "support/environment.h"
#include "support/dir_listing.h"

namespace {

// Working buffer of an expanded path text; longer texts are cut here and
// again at each field.
constexpr int kTextSize = 1024;
// Longest variable name inside braces that counts.
constexpr std::size_t kBraceNameMax = 128;
// Longest node taken from a "\\host\..." text.
constexpr std::size_t kNodeTextMax = 62;
// Longest directory text taken from a path.
constexpr std::size_t kDirectoryTextMax = 256;
// Longest directory list given to path_search.
constexpr std::size_t kSearchListMax = 511;

bool Valid(const PathRecord* record) { return record != nullptr && record->magic == kPathMagic; }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool HasWildcard(const char* text) { return std::strpbrk(text, "*?") != nullptr; }

// Copies at most `length` characters of `text` into a field of `size`
// bytes, cut at size - 1 and terminated.
void CopyField(char* field, std::size_t size, const char* text, std::size_t length) {
    if (length > size - 1) length = size - 1;
    std::memmove(field, text, length);
    field[length] = '\0';
}

template <std::size_t N>
void SetField(char (&field)[N], const char* text) {
    CopyField(field, N, text, std::strlen(text));
}

template <std::size_t N>
void SetField(char (&field)[N], const std::string& text) {
    CopyField(field, N, text.data(), text.size());
}

// The text with its braces expanded (null counts as empty), cut at
// kTextSize - 1 characters.
std::string Expanded(const char* text) {
    if (text == nullptr) return {};
    if (std::strchr(text, '{') == nullptr) {
        return std::string(text, ::strnlen(text, kTextSize));
    }
    char buffer[kTextSize + 1];
    path_expand(text, buffer, kTextSize + 1);
    return buffer;
}

// An expanded text too long for the working buffer: it would have been cut.
bool Overlong(const std::string& expanded) { return expanded.size() >= static_cast<std::size_t>(kTextSize); }

void ClearLocation(PathRecord* record) {
    record->node[0] = '\0';
    record->device[0] = '\0';
    record->directory[0] = '\0';
}

// The pieces of a path text before they go into a record.
struct Parsed {
    std::string node;
    std::string device;
    std::string directory;  // "/" separators
};

// Plain form: "\\host\dir", "host!dir", "dev:dir" or a bare directory.
void ParsePlain(const std::string& text, Parsed& out) {
    std::string rest;
    if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
        std::size_t end = 2;
        while (end < text.size() && !IsSeparator(text[end])) ++end;
        out.node = text.substr(2, end - 2);
        rest = text.substr(end);
        if (rest.find(':') != std::string::npos) rest.erase(0, 1);
    } else if (std::size_t bang = text.rfind('!'); bang != std::string::npos) {
        out.node = text.substr(0, bang);
        for (char& c : out.node) {
            if (c == '!') c = '.';
        }
        rest = text.substr(bang + 1);
    } else if (std::size_t colon = text.find(':'); colon != std::string::npos) {
        out.device = text.substr(0, colon);
        rest = text.substr(colon + 1);
    } else {
        rest = text;
    }
    for (char& c : rest) {
        if (c == '\\') c = '/';
    }
    out.directory = rest;
}

// Bracket form: "node::dev:[dir.sub]name", "[.sub]name", "<dir>name".
void ParseBracket(const std::string& text, Parsed& out) {
    std::string rest = text;
    std::size_t open = rest.find_first_of("[<");
    if (std::size_t colons = rest.find("::"); colons != std::string::npos && colons < open) {
        out.node = rest.substr(0, colons);
        rest.erase(0, colons + 2);
        open = rest.find_first_of("[<");
    }
    if (std::size_t colon = rest.find(':'); colon != std::string::npos && colon < open) {
        out.device = rest.substr(0, colon);
        rest.erase(0, colon + 1);
    }
    std::string dir;
    int depth = 0;
    std::size_t level_start = 0;  // length of `dir` when the outermost list opened
    auto separator = [&dir]() {
        if (dir.empty() || dir.back() != '/') dir += '/';
    };
    for (std::size_t i = 0; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '[' || c == '<') {
            if (depth == 0) {
                level_start = dir.size();
                if (i + 1 < rest.size() && rest[i + 1] == '.') {
                    ++i;  // relative list: no leading separator
                } else if (i + 1 < rest.size() && (rest[i + 1] == ']' || rest[i + 1] == '>')) {
                    ++i;  // "[]" stands for nothing
                    continue;
                } else {
                    separator();
                    level_start = dir.size();
                }
            } else {
                separator();
            }
            ++depth;
        } else if (c == ']' || c == '>') {
            if (depth > 0) --depth;
            if (depth == 0 && dir.size() > level_start) separator();
        } else if (c == '.' && depth > 0) {
            separator();
        } else if (IsSeparator(c)) {
            separator();
        } else {
            dir += c;
        }
    }
    out.directory = dir;
}

// Parses an expanded text into the record: the whole text as a directory
// when `whole_directory`, else split into directory and name. A text whose
// parts do not fit their fields is refused (null, the record unchanged):
// cut, it would name another file.
PathRecord* ParseInto(PathRecord* record, const std::string& expanded, bool whole_directory) {
    if (record != nullptr && !Valid(record)) return nullptr;
    if (Overlong(expanded)) return nullptr;
    Parsed parsed;
    if (expanded.find('[') != std::string::npos) {
        ParseBracket(expanded, parsed);
    } else {
        ParsePlain(expanded, parsed);
    }
    std::string directory = parsed.directory;
    std::string name;
    if (!whole_directory) {
        std::size_t slash = directory.rfind('/');
        if (slash == std::string::npos) {
            name = directory;
            directory.clear();
        } else {
            name = directory.substr(slash + 1);
            directory.resize(slash == 0 ? 1 : slash);
        }
    }
    // "name@host": the text after the at sign names the node.
    std::string& host_part = whole_directory ? directory : name;
    if (std::size_t at = host_part.find('@'); at != std::string::npos) {
        parsed.node = host_part.substr(at + 1);
        host_part.resize(at);
    }
    if (parsed.node.size() > kNodeTextMax || parsed.device.size() >= sizeof record->device ||
        directory.size() >= kDirectoryTextMax || name.size() >= sizeof record->name) {
        return nullptr;
    }
    if (record == nullptr) {
        record = path_new();
        if (record == nullptr) return nullptr;
    }
    ClearLocation(record);
    SetField(record->node, parsed.node);
    SetField(record->device, parsed.device);
    SetField(record->directory, directory);
    if (!whole_directory) {
        SetField(record->name, name);
        if (HasWildcard(record->name)) {
            SetField(record->name_pattern, record->name);
        } else {
            record->name_pattern[0] = '\0';
        }
        if (HasWildcard(record->type)) {
            SetField(record->type_pattern, record->type);
            record->type[0] = '\0';
        }
    }
    record->is_directory = -1;
    return record;
}

// Removes the last level of a "/" directory; the root "/" stays.
void DirectoryUp(char* directory) {
    std::size_t n = std::strlen(directory);
    while (n > 1 && directory[n - 1] == '/') --n;
    while (n > 0 && directory[n - 1] != '/') --n;
    while (n > 1 && directory[n - 1] == '/') --n;
    directory[n] = '\0';
}

// Temporary files of temp_open and their names.
struct TempFiles {
    std::mutex mutex;
    std::map<std::FILE*, std::string> names;
};

TempFiles& Temps() {
    static TempFiles temps;
    return temps;
}

}  // namespace

char* path_expand(const char* text, char* out, int size) {
    if (out == nullptr || size < 1) return nullptr;
    std::size_t limit = static_cast<std::size_t>(size) - 1;  // characters that fit
    std::size_t length = 0;
    if (text != nullptr) {
        for (std::size_t i = 0; text[i] != '\0' && length < limit;) {
            if (text[i] != '{') {
                out[length++] = text[i++];
                continue;
            }
            std::size_t start = i + 1;
            std::size_t end = start;
            while (text[end] != '\0' && text[end] != '}') ++end;
            std::string name(text + start, std::min(end - start, kBraceNameMax));
            i = text[end] == '}' ? end + 1 : end;
            if (name.empty()) continue;
            // The value goes straight into the remaining room; one that does
            // not fit counts as absent.
            auto room = static_cast<win::DWORD>(limit - length + 1);
            win::DWORD n = win::GetEnvironmentVariableA(name.c_str(), out + length, room);
            if (n > 0 && n < room) length += n;
        }
    }
    out[length] = '\0';
    return out;
}

PathRecord* path_new() {
    auto* record = new (std::nothrow) PathRecord{};
    if (record == nullptr) return nullptr;
    record->is_directory = -1;
    record->magic = kPathMagic;
    return record;
}

PathRecord* path_copy(const PathRecord* record) {
    if (!Valid(record)) return nullptr;
    auto* copy = new (std::nothrow) PathRecord(*record);
    if (copy == nullptr) return nullptr;
    copy->listing = nullptr;
    return copy;
}

void path_free(PathRecord* record) {
    if (record == nullptr) return;
    if (Valid(record)) delete record->listing;  // ends an open listing
    record->magic = 0;
    delete record;
}

PathRecord* path_parse(PathRecord* record, const char* text) {
    if (text == nullptr) return nullptr;
    return ParseInto(record, Expanded(text), false);
}

PathRecord* path_set_directory(PathRecord* record, const char* text) {
    if (text == nullptr) return nullptr;
    if (record != nullptr && !Valid(record)) return nullptr;
    std::string expanded = Expanded(text);
    bool current = expanded == "." || expanded == "[]";
    bool parent = expanded == ".." || expanded == "[-]";
    if (!current && !parent) return ParseInto(record, expanded, true);

    PathRecord* here = path_current(nullptr);
    if (here == nullptr) return nullptr;
    if (parent) DirectoryUp(here->directory);
    if (record == nullptr) return here;
    SetField(record->node, here->node);
    SetField(record->device, here->device);
    SetField(record->directory, here->directory);
    record->is_directory = -1;
    path_free(here);
    return record;
}

PathRecord* path_append_directory(PathRecord* record, const char* name) {
    if (!Valid(record) || name == nullptr) return nullptr;
    std::string level = Expanded(name);
    if (level.size() > kDirectoryTextMax) level.resize(kDirectoryTextMax);
    record->is_directory = -1;
    if (level == ".." || level == "[-]") {
        DirectoryUp(record->directory);
        return record;
    }
    if (level == "." || level == "[]" || level.empty()) return record;
    std::string directory = record->directory;
    if (directory.empty() || directory.back() != '/') directory += '/';
    directory += level;
    SetField(record->directory, directory);
    return record;
}

PathRecord* path_set_name(PathRecord* record, const char* text) {
    if (!Valid(record)) return nullptr;
    SetField(record->name, Expanded(text));
    record->is_directory = -1;
    return record;
}

PathRecord* path_set_name_pattern(PathRecord* record, const char* text) {
    if (!Valid(record)) return nullptr;
    SetField(record->name_pattern, Expanded(text));
    record->is_directory = -1;
    return record;
}

PathRecord* path_set_node(PathRecord* record, const char* text) {
    if (!Valid(record)) return nullptr;
    SetField(record->node, Expanded(text));
    record->is_directory = -1;
    return record;
}

PathRecord* path_set_device(PathRecord* record, const char* text) {
    if (!Valid(record)) return nullptr;
    SetField(record->device, Expanded(text));
    record->is_directory = -1;
    return record;
}

PathRecord* path_set_type(PathRecord* record, const char* text) {
    if (!Valid(record)) return nullptr;
    std::string type = Expanded(text);
    if (HasWildcard(type.c_str())) {
        SetField(record->type_pattern, type);
        record->type[0] = '\0';
    } else {
        SetField(record->type, type);
        record->type_pattern[0] = '\0';
    }
    record->is_directory = -1;
    return record;
}

PathRecord* path_set_extension(PathRecord* record, const char* extension) {
    if (!Valid(record)) return nullptr;
    std::string ext = Expanded(extension);
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    auto apply = [&ext](char* field, std::size_t size) {
        if (field[0] == '\0') return;
        std::string name = field;
        if (std::size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
        if (!ext.empty()) name += "." + ext;
        CopyField(field, size, name.data(), name.size());
    };
    apply(record->name, sizeof record->name);
    apply(record->name_pattern, sizeof record->name_pattern);
    record->is_directory = -1;
    return record;
}

PathRecord* path_current(PathRecord* record) {
    if (record != nullptr && !Valid(record)) return nullptr;
    char cwd[kPathDirectorySize + 1];
    win::DWORD n = win::GetCurrentDirectoryA(sizeof cwd, cwd);
    if (n == 0 || n >= sizeof cwd) return nullptr;
    // A plain directory, never the path grammar: "@", "!" and "[" are
    // ordinary characters of a directory name here.
    std::string text(cwd, n);
    std::string device;
    if (text.size() >= 2 && text[1] == ':') {
        device = text.substr(0, 1);
        text.erase(0, 2);
    }
    for (char& c : text) {
        if (c == '\\') c = '/';
    }
    if (text.size() >= kDirectoryTextMax) return nullptr;
    PathRecord* result = record != nullptr ? record : path_new();
    if (result == nullptr) return nullptr;
    ClearLocation(result);
    SetField(result->device, device);
    SetField(result->directory, text);
    result->name[0] = '\0';
    result->name_pattern[0] = '\0';
    result->is_directory = -1;
    return result;
}

PathRecord* path_combine(PathRecord* destination, const PathRecord* source) {
    if (!Valid(destination) || !Valid(source)) return nullptr;
    if (source->node[0] != '\0') SetField(destination->node, source->node);
    if (source->device[0] != '\0') SetField(destination->device, source->device);
    if (source->directory[0] == '/' || destination->directory[0] != '/') {
        SetField(destination->directory, source->directory);
    } else if (source->directory[0] != '\0') {
        std::string directory = destination->directory;
        directory += '/';
        directory += source->directory;
        SetField(destination->directory, directory);
    }
    SetField(destination->name, source->name);
    SetField(destination->name_pattern, source->name_pattern);
    SetField(destination->type, source->type);
    SetField(destination->type_pattern, source->type_pattern);
    destination->is_directory = -1;
    return destination;
}

char* path_format(const PathRecord* record, char* buffer, int size) {
    if (!Valid(record)) return nullptr;
    std::string out;
    const char* directory = record->directory;
    if (record->node[0] != '\0') {
        out = "\\\\";
        out += record->node;
        // A relative directory still needs a separator after the host.
        if (directory[0] != '\0' && directory[0] != '/') out += '\\';
    } else if (record->device[0] != '\0') {
        out += record->device[0];
        out += ':';
    }
    for (const char* p = directory; *p != '\0'; ++p) {
        if (*p == '/') {
            if (out.empty() || out.back() != '\\') out += '\\';
        } else {
            out += *p;
        }
    }
    if (record->name[0] != '\0') {
        std::size_t dlen = std::strlen(directory);
        bool ends_with_separator = dlen > 0 && directory[dlen - 1] == '/';
        // Between directory and name; with no directory only a host needs one
        // ("C:name" and "name" stay relative).
        if (dlen > 0 ? !ends_with_separator : record->node[0] != '\0') out += '\\';
        out += record->name;
    }
    if (buffer == nullptr) {
        std::size_t needed = std::strlen(record->node) + std::strlen(directory) + std::strlen(record->name) + 10;
        buffer = static_cast<char*>(std::malloc(needed));
        if (buffer == nullptr) return nullptr;
        CopyField(buffer, needed, out.data(), out.size());
        return buffer;
    }
    if (size < 1) return nullptr;
    CopyField(buffer, static_cast<std::size_t>(size), out.data(), out.size());
    return buffer;
}

namespace {

// Formats the record into `out` (kPathResolveSize bytes); false, with `out`
// empty, when the path does not fit.
bool FormatResolved(const PathRecord* record, char* out) {
    char text[kPathFormatSize];
    if (path_format(record, text, sizeof text) == nullptr || std::strlen(text) >= static_cast<std::size_t>(kPathResolveSize)) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, text, std::strlen(text) + 1);
    return true;
}

}  // namespace

char* path_resolve(char* out, const char* base, const char* name) {
    if (out == nullptr) return nullptr;
    out[0] = '\0';
    PathRecord* named = path_parse(nullptr, name);
    if (named == nullptr) {
        if (name == nullptr || std::strlen(name) >= static_cast<std::size_t>(kPathResolveSize)) return nullptr;
        CopyField(out, kPathResolveSize, name, std::strlen(name));
        return out;
    }
    PathRecord* full = nullptr;
    bool refused = false;
    if (named->directory[0] == '/' || named->device[0] != '\0') {
        // Used alone.
    } else if (base != nullptr) {
        PathRecord* given = path_set_directory(nullptr, base);
        if (given == nullptr) {
            refused = true;  // a base that cannot be taken would resolve elsewhere
        } else if (given->directory[0] != '/') {
            full = path_current(nullptr);
            if (full != nullptr) path_combine(full, given);
            path_free(given);
        } else {
            full = given;
        }
    } else {
        full = path_current(nullptr);
    }
    bool fits = false;
    if (!refused) {
        if (full != nullptr) path_combine(full, named);
        fits = FormatResolved(full != nullptr ? full : named, out);
    }
    path_free(full);
    path_free(named);
    return fits ? out : nullptr;
}

PathRecord* path_search(const char* list, const char* relative) {
    std::string elements;
    if (list != nullptr) {
        elements.assign(list, ::strnlen(list, kSearchListMax));
    } else {
        std::optional<std::string> value = env_value(kEnvPath);
        if (!value) return nullptr;
        elements = value->substr(0, kSearchListMax);
    }
    while (!elements.empty() && elements.back() == ' ') elements.pop_back();
    PathRecord* wanted = path_parse(nullptr, relative);
    if (wanted == nullptr) return nullptr;

    std::size_t pos = 0;
    bool more = true;
    while (more) {
        std::size_t end = elements.find(',', pos);
        if (end == std::string::npos) end = elements.find(';', pos);
        more = end != std::string::npos;
        if (!more) end = elements.size();
        std::string element = elements.substr(pos, end - pos);
        pos = end + 1;

        PathRecord* candidate =
            element.empty() ? path_current(nullptr) : path_set_directory(nullptr, element.c_str());
        if (candidate == nullptr) continue;
        if (candidate->directory[0] != '/' && candidate->node[0] == '\0') {
            // A relative element lies under the current directory; laid
            // straight over the relative path it would be replaced by it.
            PathRecord* here = path_current(nullptr);
            if (here == nullptr) {
                path_free(candidate);
                continue;
            }
            path_combine(here, candidate);
            path_free(candidate);
            candidate = here;
        }
        path_combine(candidate, wanted);
        if (path_kind(candidate) != -1) {
            path_free(wanted);
            return candidate;
        }
        path_free(candidate);
    }
    path_free(wanted);
    return nullptr;
}

int path_kind(const PathRecord* record) {
    char text[kPathFormatSize];
    if (path_format(record, text, sizeof text) == nullptr) return -1;
    win::DWORD attributes = win::GetFileAttributesA(text);
    if (attributes == win::INVALID_FILE_ATTRIBUTES) return -1;
    constexpr win::DWORD kListedAsDirectory =
        win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM;
    if ((attributes & kListedAsDirectory) != 0) return 0;
    if ((attributes & win::FILE_ATTRIBUTE_READONLY) != 0) return 1;
    return 3;
}

std::FILE* path_open(const PathRecord* record, const char* mode) {
    if (mode == nullptr) return nullptr;
    char* text = path_format(record, nullptr, 0);
    if (text == nullptr) return nullptr;
    // A path cut to fit would name another file: refuse it instead.
    std::FILE* stream = nullptr;
    if (std::strlen(text) < static_cast<std::size_t>(kPathFormatSize)) stream = win::crt_fopen(text, mode);
    std::free(text);
    return stream;
}

int path_split_name(const char* text, char* base, int base_size, char* extension, int extension_size) {
    auto put = [](char* out, int size, const char* value, std::size_t length) {
        if (out != nullptr && size > 0) CopyField(out, static_cast<std::size_t>(size), value, length);
    };
    put(base, base_size, "", 0);
    put(extension, extension_size, "", 0);
    PathRecord* record = path_parse(nullptr, text);
    if (record == nullptr) return -1;
    const char* name = record->name;
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) {
        put(base, base_size, name, std::strlen(name));
    } else {
        put(base, base_size, name, static_cast<std::size_t>(dot - name));
        put(extension, extension_size, dot + 1, std::strlen(dot + 1));
    }
    path_free(record);
    return 0;
}

std::FILE* temp_open() {
    char directory[win::MAX_PATH];
    win::DWORD n = win::GetTempPathA(sizeof directory, directory);
    if (n == 0 || n >= sizeof directory) return nullptr;
    char name[win::MAX_PATH];
    if (win::GetTempFileNameA(directory, "vd", 0, name) == 0) return nullptr;
    std::FILE* stream = win::crt_fopen(name, "w+b");
    if (stream == nullptr) {
        win::DeleteFileA(name);
        return nullptr;
    }
    try {
        TempFiles& temps = Temps();
        std::lock_guard<std::mutex> lock(temps.mutex);
        temps.names[stream] = name;
    } catch (const std::bad_alloc&) {
        std::fclose(stream);
        win::DeleteFileA(name);
        return nullptr;
    }
    return stream;
}

int temp_close(std::FILE* stream) {
    if (stream == nullptr) return -1;
    std::string name;
    {
        TempFiles& temps = Temps();
        std::lock_guard<std::mutex> lock(temps.mutex);
        auto it = temps.names.find(stream);
        if (it != temps.names.end()) {
            name = std::move(it->second);
            temps.names.erase(it);
        }
    }
    int rc = std::fclose(stream);
    if (!name.empty()) win::DeleteFileA(name.c_str());
    return rc == 0 ? 0 : -1;
}
