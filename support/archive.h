// Configuration-table archives (".ct"): a small index of named tables, each
// with a block of fixed-size records, and the lookup of global identifiers
// through the domain archives.
//
// All operations are plain functions over a caller-owned CtArchive and return
// an integer status (CT_OK or one of the CT_ERR_ codes). Nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Result codes.
enum : int {
  CT_OK = 0,
  CT_ERR_OPEN = 1,        // archive or temporary file cannot be opened, or no memory for the context
  CT_ERR_CLOSE = 2,       // closing the archive stream failed
  CT_ERR_NOT_OPEN = 3,    // the handle is not open
  CT_ERR_SEEK = 4,        // a seek failed
  CT_ERR_READ = 5,        // a read failed or came short
  CT_ERR_WRITE = 6,       // a write failed
  CT_ERR_SIGNATURE = 7,   // the file does not begin with "CT"
  CT_ERR_NULL = 9,        // null handle, name or buffer
  CT_ERR_TABLE = 10,      // table index out of range, no table selected, table without data, no match
  CT_ERR_RANGE = 11,      // record range beyond record_count
  CT_ERR_VERSION = 12,    // unsupported version
  CT_ERR_BUFFER = 13,     // the caller's buffer cannot hold the bytes asked for
  CT_ERR_NOMEM = -1,      // a copy buffer cannot be allocated (writing only)
};

inline constexpr std::uint16_t CT_SIGNATURE = 0x5443;  // "CT" read as a little-endian word
inline constexpr std::uint16_t CT_VERSION_OLD = 0x0200;
inline constexpr std::uint16_t CT_VERSION = 0x0300;
inline constexpr std::size_t CT_NAME_SIZE = 10;
inline constexpr std::size_t CT_PATH_SIZE = 128;
inline constexpr std::size_t CT_STREAM_BUFFER = 8192;

enum : std::int16_t { CT_MODE_READ = 1, CT_MODE_CREATE = 2, CT_MODE_UPDATE = 3 };

#pragma pack(push, 1)
// File header, versions 0x0201 to 0x0300.
struct CtHeader {
  std::uint16_t signature;
  std::uint16_t version;
  std::uint32_t table_count;
};
// File header, version 0x0200.
struct CtHeaderOld {
  std::uint16_t signature;
  std::uint16_t version;
  std::uint16_t table_count;
};
// Index entry, versions 0x0201 to 0x0300; also the in-memory form.
struct CtEntry {
  std::uint16_t type;
  char name[CT_NAME_SIZE];  // padded, not necessarily NUL-terminated
  std::uint32_t offset;     // absolute file offset of the data block; 0 = no data
  std::uint32_t header_size;
  std::uint32_t record_size;
  std::uint32_t record_count;
};
// Index entry, version 0x0200.
struct CtEntryOld {
  std::uint16_t type;
  char name[CT_NAME_SIZE];
  std::uint32_t offset;
  std::uint16_t header_size;
  std::uint16_t record_size;
  std::uint16_t record_count;
};
#pragma pack(pop)

static_assert(sizeof(CtHeader) == 8);
static_assert(sizeof(CtHeaderOld) == 6);
static_assert(sizeof(CtEntry) == 28);
static_assert(sizeof(CtEntryOld) == 22);

// A file read and written through an 8192-byte buffer of its own, so that
// reading records one by one costs no system call while they lie in the
// buffer (stdio's seek drops its buffer on some C runtimes).
struct CtStream {
  std::FILE* file = nullptr;
  std::uint64_t file_pos = 0;   // where the C stream stands, when known
  bool pos_known = false;
  int last_op = 0;              // 0 none, 1 read, 2 write (update streams need a seek between)
  std::uint64_t buf_start = 0;  // file position of buf[0]
  std::size_t buf_len = 0;      // valid bytes in buf
  unsigned char buf[CT_STREAM_BUFFER];
};

struct CtArchive;

struct CtFileContext {
  CtStream stream;       // the archive (read mode, and the source while an update is opened)
  CtStream index_spill;  // create/update: header gap then 28-byte entries, as in the archive
  CtStream data_spill;   // create/update: 28 zero bytes, then the data blocks
  std::int16_t mode = 0;
  std::uint32_t entry_position = 0;  // file position of the current entry; 0 = none selected
  std::uint32_t data_end = 0;        // create/update: end of data_spill
  char path[CT_PATH_SIZE] = {};      // resolved archive path
  char index_path[CT_PATH_SIZE + 8] = {};
  char data_path[CT_PATH_SIZE + 8] = {};
  int (*commit)(CtArchive*) = nullptr;  // create/update: what ct_close runs (the writer's commit)
};

struct CtArchive {
  CtFileContext* context = nullptr;  // owned; null while closed
  std::uint16_t signature = 0;
  std::uint16_t version = 0;
  std::uint32_t table_count = 0;
  CtEntry entry = {};  // the current table's entry, widened to the 28-byte form
};

// Reading. The archive path is base_dir joined with name by path_resolve
// (support/paths.h): brace references are expanded, a name with a drive or
// an absolute directory ignores the base, a relative base (or none) lies
// under the current directory. The resolved path must fit in 127 characters
// and name a file (else CT_ERR_OPEN).
int ct_open(CtArchive* ct, const char* base_dir, const char* name);
int ct_select(CtArchive* ct, std::uint32_t index);
int ct_find(CtArchive* ct, const char* name);
// name and/or type (either may be null); n = 0 counts as 1.
int ct_find_nth(CtArchive* ct, const char* name, const std::uint16_t* type, std::uint32_t n);
// buffer_size is the capacity of buffer; a table header or record range that
// does not fit gives CT_ERR_BUFFER and nothing is read.
int ct_read_header(CtArchive* ct, void* buffer, std::size_t buffer_size);
int ct_read_records(CtArchive* ct, void* buffer, std::size_t buffer_size, std::uint32_t first,
                    std::uint32_t count);
int ct_read_record(CtArchive* ct, void* buffer, std::size_t buffer_size, std::uint32_t index);
// Read mode: closes. Create/update mode: commits the archive to its path
// (through a temporary file, so a failed commit leaves the old file as it was)
// and closes; the handle is closed afterwards whatever the result.
int ct_close(CtArchive* ct);
// Closes a create/update handle without committing (a read handle is simply
// closed); the archive on disk stays as it was.
int ct_discard(CtArchive* ct);

// Resolves global identifiers through "ct/domain.ct" and the domains'
// "<domain>/ct/global.ct" under base_dir, starting at domain and walking to
// its parents. refs[i] receives the tag reference of ids[i] (0xFFFFFFFF when
// unresolved). domain is lower-cased in place. Returns the number resolved
// (a domain whose global.ct cannot be read adds nothing), or -1 when
// domain.ct cannot be read. A domain already visited ends the walk, so a
// cycle of parents ends.
int ct_resolve_globals(std::uint32_t* refs, int count, const std::uint32_t* ids, const char* base_dir,
                       char* domain);
