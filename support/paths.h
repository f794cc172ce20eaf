// Path records: a file path parsed into node (host), device (drive),
// directory, name and patterns; built piece by piece, joined with a base,
// searched for along a list of directories and formatted back into a
// Windows path. Directories are held with "/" separators and formatted with
// "\". Every text argument may carry environment references "{NAME}".
//
// A path text whose parts do not fit their fields (node 62 characters,
// device 63, directory 255, name 127) is refused rather than cut, since a
// cut path names another file; the setters of single fields cut at the
// field's size less one. Every field is always terminated.
#pragma once

#include <cstdint>
#include <cstdio>

inline constexpr std::uint32_t kPathMagic = 0x4E50;

inline constexpr int kPathNodeSize = 64;
inline constexpr int kPathDeviceSize = 64;
inline constexpr int kPathDirectorySize = 256;
inline constexpr int kPathNameSize = 128;
inline constexpr int kPathTypeSize = 16;
// Output size of path_resolve.
inline constexpr int kPathResolveSize = 128;
// Longest formatted path (terminator included) of the file operations and
// path_open.
inline constexpr int kPathFormatSize = 512;

// Open directory listing of a record (support/dir_listing.h, filled by the
// listing operations of support/files.h); owned by the record.
struct DirListing;

struct PathRecord {
    char node[kPathNodeSize];           // host name; empty for local paths
    char device[kPathDeviceSize];       // drive name
    char directory[kPathDirectorySize]; // "/" separators; absolute when it starts with "/"
    char name[kPathNameSize];           // file name with extension
    char name_pattern[kPathNameSize];   // the name when it holds "*" or "?"
    char type[kPathTypeSize];           // file type text, set separately
    char type_pattern[kPathTypeSize];   // the type when it holds "*" or "?"
    std::uint32_t timestamp;            // packed last-write time of a listing entry
    std::uint32_t size;                 // low 32 bits of a listing entry's size
    std::int32_t is_directory;          // 1 directory, 0 file, -1 undetermined
    std::uint32_t magic;                // kPathMagic while valid
    DirListing* listing;                // open listing, null in a copy
};

// Zeroed record with is_directory -1 and magic set; null without memory.
PathRecord* path_new();
// A copy without the listing; null without memory or for an invalid record.
PathRecord* path_copy(const PathRecord* record);
// Ends an open listing, clears magic and frees; null is ignored.
void path_free(PathRecord* record);

// Copies `text` into `out` with every "{NAME}" replaced by the value of the
// environment variable NAME (an absent variable, an empty name or a value
// that does not fit in the remaining room inserts nothing; an unclosed "{"
// takes the name to the end). Writes at most size - 1 characters and always
// terminates. Returns `out`, or null when `out` is null or size < 1.
char* path_expand(const char* text, char* out, int size);

// Parses a path text into `record` (null: a new record). Null when the
// record is invalid, the text is null, or memory runs out.
PathRecord* path_parse(PathRecord* record, const char* text);

// "." / "[]": the current directory; ".." / "[-]": its parent; any other
// text is parsed as a directory (no file name split off). Null record: a
// new one.
PathRecord* path_set_directory(PathRecord* record, const char* text);
// Appends one directory level; ".." / "[-]" go up one level, "." / "[]"
// change nothing.
PathRecord* path_append_directory(PathRecord* record, const char* name);

// Brace-expanded copies into the field. Null for an invalid record.
PathRecord* path_set_name(PathRecord* record, const char* text);
PathRecord* path_set_name_pattern(PathRecord* record, const char* text);
PathRecord* path_set_node(PathRecord* record, const char* text);
PathRecord* path_set_device(PathRecord* record, const char* text);
// Into `type`, or into `type_pattern` when the text holds "*" or "?"; the
// other one is cleared.
PathRecord* path_set_type(PathRecord* record, const char* text);
// Replaces the extension of name and name_pattern (one leading "." of
// `extension` is ignored; an empty extension removes the old one).
PathRecord* path_set_extension(PathRecord* record, const char* extension);

// The working directory of the current drive, taken as a plain directory
// (no path grammar: "@", "!" and "[" are ordinary characters), as device and
// directory; name, name_pattern and node cleared. Null record: a new one.
PathRecord* path_current(PathRecord* record);

// Lays `source` over `destination` and returns `destination`.
PathRecord* path_combine(PathRecord* destination, const PathRecord* source);

// Formats the Windows path string into `buffer` (at most size - 1
// characters, always terminated) and returns it. With a null buffer returns
// a new string allocated with std::malloc that the caller frees with
// std::free. Null for an invalid record, a size below 1 or no memory.
char* path_format(const PathRecord* record, char* buffer, int size);

// Joins `base` (a directory, or null for the current directory) and `name`
// into `out` (kPathResolveSize bytes) and returns `out`. A name with a
// device or an absolute directory is used alone; a relative base lies under
// the current directory. An unparsable name is copied through. Null, with
// `out` empty, when the result (or a name or base that cannot be taken)
// would not fit: it is never cut.
char* path_resolve(char* out, const char* base, const char* name);

// First element of `list` ("," or ";" separated; null: $VDPATH) under
// which `relative` exists, as a new record; null when none. A relative
// element lies under the current directory.
PathRecord* path_search(const char* list, const char* relative);

// -1 missing, 0 directory (or hidden or system entry), 1 read-only file,
// 3 other file.
int path_kind(const PathRecord* record);

// The C runtime stream of the formatted path (kPathFormatSize at most);
// null on failure.
std::FILE* path_open(const PathRecord* record, const char* mode);

// Splits the file name of a path text into the part before its last "."
// and the part after it (empty when there is no "."), each cut to its
// buffer. Both are empty and the result is -1 when the text cannot be
// parsed; 0 otherwise.
int path_split_name(const char* text, char* base, int base_size, char* extension,
                    int extension_size);

// A new temporary file opened "w+b" (null on failure); temp_close closes it
// and deletes the file. A stream not opened by temp_open is only closed.
std::FILE* temp_open();
int temp_close(std::FILE* stream);
