// Configuration-table archives: reading, and the writing side (create,
// update, and the close that commits).
#include "support/archive.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/files.h"
#include "support/paths.h"

namespace {

constexpr std::uint32_t kSpillZeroBlock = 28;  // data_spill starts with this many zero bytes

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

CtEntry decode_entry(const unsigned char* p, bool old) {
  CtEntry e{};
  e.type = le16(p);
  std::memcpy(e.name, p + 2, CT_NAME_SIZE);
  e.offset = le32(p + 12);
  if (old) {
    e.header_size = le16(p + 16);
    e.record_size = le16(p + 18);
    e.record_count = le16(p + 20);
  } else {
    e.header_size = le32(p + 16);
    e.record_size = le32(p + 20);
    e.record_count = le32(p + 24);
  }
  return e;
}

void encode_entry(unsigned char* p, const CtEntry& e) {
  put16(p, e.type);
  std::memcpy(p + 2, e.name, CT_NAME_SIZE);
  put32(p + 12, e.offset);
  put32(p + 16, e.header_size);
  put32(p + 20, e.record_size);
  put32(p + 24, e.record_count);
}

// ---- buffered stream --------------------------------------------------------

bool stream_open(CtStream& s, const char* path, const char* mode) {
  s.file = win::crt_fopen(path, mode);
  if (!s.file) return false;
  // Reads go through our own buffer; writes keep the C stream's buffer.
  std::setvbuf(s.file, nullptr, _IOFBF, CT_STREAM_BUFFER);
  s.pos_known = false;
  s.last_op = 0;
  s.buf_len = 0;
  return true;
}

int stream_close(CtStream& s) {
  if (!s.file) return 0;
  int rc = std::fclose(s.file);
  s.file = nullptr;
  s.buf_len = 0;
  return rc;
}

int stream_seek(CtStream& s, std::uint64_t pos, int next_op) {
  if (s.pos_known && s.file_pos == pos && (s.last_op == 0 || s.last_op == next_op)) return CT_OK;
  if (pos > static_cast<std::uint64_t>(LONG_MAX)) return CT_ERR_SEEK;
  if (std::fseek(s.file, static_cast<long>(pos), SEEK_SET) != 0) {
    s.pos_known = false;
    return CT_ERR_SEEK;
  }
  s.file_pos = pos;
  s.pos_known = true;
  s.last_op = 0;
  return CT_OK;
}

// Reads exactly n bytes at pos: CT_OK, CT_ERR_SEEK or CT_ERR_READ.
int stream_read(CtStream& s, std::uint64_t pos, void* dst, std::size_t n) {
  if (pos >= s.buf_start && pos - s.buf_start + n <= s.buf_len) {
    std::memcpy(dst, s.buf + (pos - s.buf_start), n);  // the common case: a record in the buffer
    return CT_OK;
  }
  auto* out = static_cast<unsigned char*>(dst);
  while (n > 0) {
    if (s.buf_len > 0 && pos >= s.buf_start && pos < s.buf_start + s.buf_len) {
      std::size_t at = static_cast<std::size_t>(pos - s.buf_start);
      std::size_t take = s.buf_len - at < n ? s.buf_len - at : n;
      std::memcpy(out, s.buf + at, take);
      out += take;
      pos += take;
      n -= take;
      continue;
    }
    int rc = stream_seek(s, pos, 1);
    if (rc != CT_OK) return rc;
    if (n >= CT_STREAM_BUFFER) {
      // A large request goes straight to the caller's buffer.
      std::size_t got = std::fread(out, 1, n, s.file);
      s.last_op = 1;
      s.file_pos += got;
      return got == n ? CT_OK : CT_ERR_READ;
    }
    std::size_t got = std::fread(s.buf, 1, CT_STREAM_BUFFER, s.file);
    s.last_op = 1;
    s.buf_start = pos;
    s.buf_len = got;
    s.file_pos += got;
    if (got == 0) return CT_ERR_READ;
  }
  return CT_OK;
}

int stream_write(CtStream& s, std::uint64_t pos, const void* src, std::size_t n) {
  s.buf_len = 0;
  int rc = stream_seek(s, pos, 2);
  if (rc == CT_ERR_SEEK) return CT_ERR_SEEK;
  std::size_t put = n ? std::fwrite(src, 1, n, s.file) : 0;
  s.last_op = 2;
  s.file_pos += put;
  return put == n ? CT_OK : CT_ERR_WRITE;
}

// ---- common -----------------------------------------------------------------

// Base directory joined with name through the path rules (brace references
// expanded, drive letters, "\\" and "/" alike); false when the result does
// not fit the context's path.
bool resolve_path(char (&out)[CT_PATH_SIZE], const char* base, const char* name) {
  static_assert(CT_PATH_SIZE == kPathResolveSize);
  return path_resolve(out, base, name) != nullptr && out[0] != '\0';
}

// Removes a file through the platform's file layer.
void remove_file(const char* path) { win::DeleteFileA(path); }

bool writing(const CtFileContext* c) { return c->mode == CT_MODE_CREATE || c->mode == CT_MODE_UPDATE; }

CtStream& index_stream(CtFileContext* c) { return writing(c) ? c->index_spill : c->stream; }
CtStream& data_stream(CtFileContext* c) { return writing(c) ? c->data_spill : c->stream; }

bool old_layout(const CtArchive* ct) { return ct->version == CT_VERSION_OLD; }
std::uint64_t header_size_of(const CtArchive* ct) { return old_layout(ct) ? 6 : 8; }
std::uint64_t entry_size_of(const CtArchive* ct) { return old_layout(ct) ? 22 : 28; }

std::uint64_t entry_pos(const CtArchive* ct, std::uint32_t index) {
  return header_size_of(ct) + static_cast<std::uint64_t>(index) * entry_size_of(ct);
}

// Reads index entry `index`; every failure is CT_ERR_READ.
int read_entry(CtArchive* ct, std::uint32_t index, CtEntry* out) {
  std::uint64_t pos = entry_pos(ct, index);
  if (pos > UINT32_MAX) return CT_ERR_READ;
  unsigned char raw[28];
  int rc = stream_read(index_stream(ct->context), pos, raw, static_cast<std::size_t>(entry_size_of(ct)));
  if (rc == CT_ERR_SEEK) return CT_ERR_SEEK;
  if (rc != CT_OK) return CT_ERR_READ;
  *out = decode_entry(raw, old_layout(ct));
  return CT_OK;
}

// Byte comparison with strncmp's rule: equal up to the first NUL, at most 10 bytes.
bool name_matches(const char (&stored)[CT_NAME_SIZE], const char* name) {
  for (std::size_t i = 0; i < CT_NAME_SIZE; ++i) {
    if (stored[i] != name[i]) return false;
    if (stored[i] == '\0') return true;
  }
  return true;
}

void close_all(CtFileContext* c) {
  stream_close(c->stream);
  if (c->index_spill.file) {
    stream_close(c->index_spill);
    remove_file(c->index_path);
  }
  if (c->data_spill.file) {
    stream_close(c->data_spill);
    remove_file(c->data_path);
  }
}

void reset_handle(CtArchive* ct) {
  ct->context = nullptr;
  std::memset(&ct->entry, 0, sizeof ct->entry);
}

// Opens the two spill files beside the archive; the data spill starts with
// a zero block so that no table's data offset is 0.
int open_spills(CtFileContext* c) {
  std::snprintf(c->index_path, sizeof c->index_path, "%s.ix~", c->path);
  std::snprintf(c->data_path, sizeof c->data_path, "%s.dt~", c->path);
  if (!stream_open(c->index_spill, c->index_path, "w+b")) return CT_ERR_OPEN;
  if (!stream_open(c->data_spill, c->data_path, "w+b")) return CT_ERR_OPEN;
  unsigned char zero[kSpillZeroBlock] = {};
  if (stream_write(c->data_spill, 0, zero, sizeof zero) != CT_OK) return CT_ERR_WRITE;
  if (stream_write(c->index_spill, 0, zero, 8) != CT_OK) return CT_ERR_WRITE;
  c->data_end = kSpillZeroBlock;
  return CT_OK;
}

// Copies n bytes from one stream to another in pieces of at most 8192 bytes.
int copy_bytes(CtStream& from, std::uint64_t from_pos, CtStream& to, std::uint64_t to_pos, std::uint64_t n,
               unsigned char* piece) {
  while (n > 0) {
    std::size_t take = n < CT_STREAM_BUFFER ? static_cast<std::size_t>(n) : CT_STREAM_BUFFER;
    int rc = stream_read(from, from_pos, piece, take);
    if (rc != CT_OK) return rc;
    rc = stream_write(to, to_pos, piece, take);
    if (rc != CT_OK) return rc;
    from_pos += take;
    to_pos += take;
    n -= take;
  }
  return CT_OK;
}

// Writes the archive from the spills into a temporary file beside it and
// moves that over the archive.
int commit(CtArchive* ct) {
  CtFileContext* c = ct->context;
  std::string temp = std::string(c->path) + ".nw~";
  auto* piece = new (std::nothrow) unsigned char[CT_STREAM_BUFFER];
  if (!piece) return CT_ERR_NOMEM;
  auto* out = new (std::nothrow) CtStream;
  if (!out) {
    delete[] piece;
    return CT_ERR_NOMEM;
  }
  int rc = CT_OK;
  if (!stream_open(*out, temp.c_str(), "wb")) rc = CT_ERR_OPEN;
  if (rc == CT_OK) {
    unsigned char head[8];
    put16(head, CT_SIGNATURE);
    put16(head + 2, CT_VERSION);
    put32(head + 4, ct->table_count);
    rc = stream_write(*out, 0, head, sizeof head);
  }
  std::uint64_t next = 8 + 28ull * ct->table_count;
  for (std::uint32_t i = 0; rc == CT_OK && i < ct->table_count; ++i) {
    unsigned char raw[28];
    rc = stream_read(c->index_spill, 8 + 28ull * i, raw, sizeof raw);
    if (rc != CT_OK) break;
    CtEntry e = decode_entry(raw, false);
    std::uint64_t size = 0;
    std::uint32_t from = e.offset;
    if (e.offset != 0) {
      size = e.header_size + static_cast<std::uint64_t>(e.record_count) * e.record_size;
      if (next > UINT32_MAX || next + size > UINT32_MAX + 1ull) {
        rc = CT_ERR_WRITE;  // would not be addressable with 32-bit offsets
        break;
      }
      e.offset = static_cast<std::uint32_t>(next);
    }
    encode_entry(raw, e);
    rc = stream_write(*out, 8 + 28ull * i, raw, sizeof raw);
    if (rc == CT_OK && size > 0) rc = copy_bytes(c->data_spill, from, *out, next, size, piece);
    next += size;
  }
  if (out->file) {
    if (std::fflush(out->file) != 0 && rc == CT_OK) rc = CT_ERR_WRITE;
    if (stream_close(*out) != 0 && rc == CT_OK) rc = CT_ERR_WRITE;
  }
  if (rc == CT_OK && !win::MoveFileExA(temp.c_str(), c->path, win::MOVEFILE_REPLACE_EXISTING)) rc = CT_ERR_WRITE;
  if (rc != CT_OK) remove_file(temp.c_str());
  delete out;
  delete[] piece;
  return rc;
}

// Reads and checks the header of the open stream into ct.
int read_header(CtStream& s, CtArchive* ct, std::uint16_t* signature, std::uint16_t* version,
                std::uint32_t* table_count) {
  unsigned char head[8];
  if (stream_read(s, 0, head, 4) != CT_OK) return CT_ERR_READ;
  *signature = le16(head);
  *version = le16(head + 2);
  if (*signature != CT_SIGNATURE) return CT_ERR_SIGNATURE;
  if (*version < CT_VERSION_OLD || *version > CT_VERSION) return CT_ERR_VERSION;
  if (*version == CT_VERSION_OLD) {
    if (stream_read(s, 0, head, 6) != CT_OK) return CT_ERR_READ;
    *table_count = le16(head + 4);
  } else {
    if (stream_read(s, 0, head, 8) != CT_OK) return CT_ERR_READ;
    *table_count = le32(head + 4);
  }
  return CT_OK;
}

int check_open(const CtArchive* ct) {
  if (!ct) return CT_ERR_NULL;
  if (!ct->context) return CT_ERR_NOT_OPEN;
  return CT_OK;
}

}  // namespace

// ---- reading ----------------------------------------------------------------

int ct_open(CtArchive* ct, const char* base_dir, const char* name) {
  if (!ct || !name) return CT_ERR_NULL;
  auto* c = new (std::nothrow) CtFileContext;
  if (!c) return CT_ERR_OPEN;
  if (!resolve_path(c->path, base_dir, name) || !stream_open(c->stream, c->path, "rb")) {
    delete c;
    return CT_ERR_OPEN;
  }
  c->mode = CT_MODE_READ;
  std::uint16_t signature = 0, version = 0;
  std::uint32_t count = 0;
  int rc = read_header(c->stream, ct, &signature, &version, &count);
  if (rc != CT_OK) {
    stream_close(c->stream);
    delete c;
    return rc;
  }
  ct->signature = signature;
  ct->version = version;
  ct->table_count = count;
  std::memset(&ct->entry, 0, sizeof ct->entry);
  ct->context = c;
  return CT_OK;
}

int ct_select(CtArchive* ct, std::uint32_t index) {
  if (int rc = check_open(ct)) return rc;
  if (index >= ct->table_count) return CT_ERR_TABLE;
  CtEntry e;
  int rc = read_entry(ct, index, &e);
  if (rc == CT_ERR_SEEK) return rc;
  if (rc != CT_OK) return CT_ERR_READ;
  ct->entry = e;
  ct->context->entry_position = static_cast<std::uint32_t>(entry_pos(ct, index));
  return CT_OK;
}

int ct_find_nth(CtArchive* ct, const char* name, const std::uint16_t* type, std::uint32_t n) {
  if (int rc = check_open(ct)) return rc;
  if (!name && !type) return CT_ERR_TABLE;
  if (n == 0) n = 1;
  for (std::uint32_t i = 0; i < ct->table_count; ++i) {
    CtEntry e;
    int rc = read_entry(ct, i, &e);
    if (rc != CT_OK) return rc;
    if (name && !name_matches(e.name, name)) continue;
    if (type && e.type != *type) continue;
    if (--n == 0) {
      ct->entry = e;
      ct->context->entry_position = static_cast<std::uint32_t>(entry_pos(ct, i));
      return CT_OK;
    }
  }
  return CT_ERR_TABLE;
}

int ct_find(CtArchive* ct, const char* name) {
  if (ct && !name) return CT_ERR_NULL;
  return ct_find_nth(ct, name, nullptr, 1);
}

int ct_read_header(CtArchive* ct, void* buffer, std::size_t buffer_size) {
  if (int rc = check_open(ct)) return rc;
  if (ct->context->entry_position == 0 || ct->entry.offset == 0) return CT_ERR_TABLE;
  if (ct->entry.header_size == 0) return CT_OK;
  if (!buffer) return CT_ERR_NULL;
  if (ct->entry.header_size > buffer_size) return CT_ERR_BUFFER;
  return stream_read(data_stream(ct->context), ct->entry.offset, buffer, ct->entry.header_size);
}

int ct_read_records(CtArchive* ct, void* buffer, std::size_t buffer_size, std::uint32_t first,
                    std::uint32_t count) {
  if (int rc = check_open(ct)) return rc;
  const CtEntry& e = ct->entry;
  if (ct->context->entry_position == 0 || e.offset == 0) return CT_ERR_TABLE;
  // Checked without wrap-around: first + count may exceed 32 bits.
  if (first > e.record_count || count > e.record_count - first) return CT_ERR_RANGE;
  if (e.record_size == 0 || count == 0) return CT_OK;
  if (!buffer) return CT_ERR_NULL;
  std::uint64_t bytes = static_cast<std::uint64_t>(e.record_size) * count;
  if (bytes > buffer_size) return CT_ERR_BUFFER;
  std::uint64_t pos = static_cast<std::uint64_t>(e.offset) + e.header_size +
                      static_cast<std::uint64_t>(first) * e.record_size;
  return stream_read(data_stream(ct->context), pos, buffer, static_cast<std::size_t>(bytes));
}

int ct_read_record(CtArchive* ct, void* buffer, std::size_t buffer_size, std::uint32_t index) {
  return ct_read_records(ct, buffer, buffer_size, index, 1);
}

int ct_close(CtArchive* ct) {
  if (int rc = check_open(ct)) return rc;
  CtFileContext* c = ct->context;
  int rc = CT_OK;
  if (c->mode == CT_MODE_READ) {
    if (stream_close(c->stream) != 0) return CT_ERR_CLOSE;
  } else {
    rc = commit(ct);
  }
  close_all(c);
  delete c;
  reset_handle(ct);
  return rc;
}

int ct_discard(CtArchive* ct) {
  if (int rc = check_open(ct)) return rc;
  close_all(ct->context);
  delete ct->context;
  reset_handle(ct);
  return CT_OK;
}

// ---- writing ----------------------------------------------------------------

int ct_create(CtArchive* ct, const char* base_dir, const char* name) {
  if (!ct || !name) return CT_ERR_NULL;
  auto* c = new (std::nothrow) CtFileContext;
  if (!c) return CT_ERR_OPEN;
  if (!resolve_path(c->path, base_dir, name)) {
    delete c;
    return CT_ERR_OPEN;
  }
  c->mode = CT_MODE_CREATE;
  int rc = open_spills(c);
  if (rc != CT_OK) {
    close_all(c);
    delete c;
    return rc;
  }
  ct->signature = CT_SIGNATURE;
  ct->version = CT_VERSION;
  ct->table_count = 0;
  std::memset(&ct->entry, 0, sizeof ct->entry);
  ct->context = c;
  return CT_OK;
}

int ct_update(CtArchive* ct, const char* base_dir, const char* name) {
  if (!ct || !name) return CT_ERR_NULL;
  auto* c = new (std::nothrow) CtFileContext;
  if (!c) return CT_ERR_OPEN;
  auto fail = [&](int code) {
    close_all(c);
    delete c;
    return code;
  };
  if (!resolve_path(c->path, base_dir, name) || !stream_open(c->stream, c->path, "rb")) return fail(CT_ERR_OPEN);
  std::uint16_t signature = 0, version = 0;
  std::uint32_t count = 0;
  int rc = read_header(c->stream, ct, &signature, &version, &count);
  if (rc != CT_OK) return fail(rc);
  if (version != CT_VERSION) return fail(CT_ERR_VERSION);
  c->mode = CT_MODE_UPDATE;
  rc = open_spills(c);
  if (rc != CT_OK) return fail(rc);

  // The data region (everything after the index) goes after the zero block;
  // offsets are rebased by the same distance.
  const std::uint64_t data_start = 8 + 28ull * count;
  unsigned char piece[CT_STREAM_BUFFER];
  std::uint64_t copied = 0;
  for (;;) {
    std::size_t got = 0;
    if (stream_seek(c->stream, data_start + copied, 1) != CT_OK) break;  // beyond any seek: nothing to copy
    got = std::fread(piece, 1, sizeof piece, c->stream.file);
    c->stream.pos_known = false;
    if (got == 0) break;
    if (kSpillZeroBlock + copied + got > UINT32_MAX) return fail(CT_ERR_WRITE);
    rc = stream_write(c->data_spill, kSpillZeroBlock + copied, piece, got);
    if (rc != CT_OK) return fail(rc);
    copied += got;
  }
  if (std::ferror(c->stream.file)) return fail(CT_ERR_READ);
  c->data_end = static_cast<std::uint32_t>(kSpillZeroBlock + copied);

  for (std::uint32_t i = 0; i < count; ++i) {
    unsigned char raw[28];
    if (stream_read(c->stream, 8 + 28ull * i, raw, sizeof raw) != CT_OK) return fail(CT_ERR_READ);
    CtEntry e = decode_entry(raw, false);
    if (e.offset != 0) {
      // A block that starts inside the index or beyond the file cannot be carried over.
      if (e.offset < data_start || e.offset - data_start > copied) return fail(CT_ERR_READ);
      e.offset = static_cast<std::uint32_t>(e.offset - data_start + kSpillZeroBlock);
    }
    encode_entry(raw, e);
    if ((rc = stream_write(c->index_spill, 8 + 28ull * i, raw, sizeof raw)) != CT_OK) return fail(rc);
  }
  stream_close(c->stream);
  ct->signature = signature;
  ct->version = version;
  ct->table_count = count;
  std::memset(&ct->entry, 0, sizeof ct->entry);
  ct->context = c;
  return CT_OK;
}

int ct_add_table(CtArchive* ct, std::uint16_t type, const char* name, const void* header,
                 std::uint32_t header_size, std::uint32_t record_size, bool has_data) {
  if (int rc = check_open(ct)) return rc;
  CtFileContext* c = ct->context;
  if (!writing(c)) return CT_ERR_NOT_OPEN;
  if (!name || (has_data && header_size > 0 && !header)) return CT_ERR_NULL;
  if (ct->table_count == UINT32_MAX || entry_pos(ct, ct->table_count) + 28 > UINT32_MAX) return CT_ERR_WRITE;
  CtEntry e{};
  e.type = type;
  // Cut to 10 bytes and NUL-padded; 10 bytes carry no terminator.
  for (std::size_t i = 0; i < CT_NAME_SIZE && name[i] != '\0'; ++i) e.name[i] = name[i];
  if (has_data) {
    if (c->data_end + static_cast<std::uint64_t>(header_size) > UINT32_MAX) return CT_ERR_WRITE;
    e.offset = c->data_end;
    e.header_size = header_size;
    e.record_size = record_size;
    if (header_size > 0) {
      int rc = stream_write(c->data_spill, c->data_end, header, header_size);
      if (rc != CT_OK) return rc;
    }
    c->data_end += header_size;
  }
  std::uint64_t pos = entry_pos(ct, ct->table_count);
  unsigned char raw[28];
  encode_entry(raw, e);
  int rc = stream_write(c->index_spill, pos, raw, sizeof raw);
  if (rc != CT_OK) return rc;
  ++ct->table_count;
  ct->entry = e;
  c->entry_position = static_cast<std::uint32_t>(pos);
  return CT_OK;
}

int ct_append_records(CtArchive* ct, const void* records, std::size_t buffer_size, std::uint32_t count) {
  if (int rc = check_open(ct)) return rc;
  CtFileContext* c = ct->context;
  if (!writing(c)) return CT_ERR_NOT_OPEN;
  CtEntry e = ct->entry;
  if (c->entry_position == 0 || e.offset == 0) return CT_ERR_TABLE;
  if (count > UINT32_MAX - e.record_count) return CT_ERR_RANGE;
  std::uint64_t bytes = static_cast<std::uint64_t>(e.record_size) * count;
  if (bytes > buffer_size) return CT_ERR_BUFFER;
  if (bytes > 0 && !records) return CT_ERR_NULL;
  std::uint64_t block = e.header_size + static_cast<std::uint64_t>(e.record_count) * e.record_size;
  int rc = CT_OK;
  if (static_cast<std::uint64_t>(e.offset) + block != c->data_end) {
    // The block is not the last one in the spill: move it to the end first.
    if (static_cast<std::uint64_t>(c->data_end) + block + bytes > UINT32_MAX) return CT_ERR_WRITE;
    auto* piece = new (std::nothrow) unsigned char[CT_STREAM_BUFFER];
    if (!piece) return CT_ERR_NOMEM;
    rc = copy_bytes(c->data_spill, e.offset, c->data_spill, c->data_end, block, piece);
    delete[] piece;
    if (rc != CT_OK) return rc;
    e.offset = c->data_end;
    c->data_end = static_cast<std::uint32_t>(c->data_end + block);
  }
  if (static_cast<std::uint64_t>(c->data_end) + bytes > UINT32_MAX) return CT_ERR_WRITE;
  if (bytes > 0) {
    rc = stream_write(c->data_spill, c->data_end, records, static_cast<std::size_t>(bytes));
    if (rc != CT_OK) return rc;
  }
  c->data_end = static_cast<std::uint32_t>(c->data_end + bytes);
  e.record_count += count;
  unsigned char raw[28];
  encode_entry(raw, e);
  rc = stream_write(c->index_spill, c->entry_position, raw, sizeof raw);
  if (rc != CT_OK) return rc;
  ct->entry = e;
  return CT_OK;
}
