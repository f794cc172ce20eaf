// The archive reader's and writer's shared internals.
#include "support/archive_stream.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "support/paths.h"

namespace ct_detail {
namespace {

bool old_layout(const CtArchive* ct) { return ct->version == CT_VERSION_OLD; }
std::uint64_t header_size_of(const CtArchive* ct) { return old_layout(ct) ? 6 : 8; }
std::uint64_t entry_size_of(const CtArchive* ct) { return old_layout(ct) ? 22 : 28; }

}  // namespace

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

bool resolve_path(char (&out)[CT_PATH_SIZE], const char* base, const char* name) {
  static_assert(CT_PATH_SIZE == kPathResolveSize);
  return path_resolve(out, base, name) != nullptr && out[0] != '\0';
}

void remove_file(const char* path) { win::DeleteFileA(path); }

bool writing(const CtFileContext* c) { return c->mode == CT_MODE_CREATE || c->mode == CT_MODE_UPDATE; }

CtStream& index_stream(CtFileContext* c) { return writing(c) ? c->index_spill : c->stream; }
CtStream& data_stream(CtFileContext* c) { return writing(c) ? c->data_spill : c->stream; }

std::uint64_t entry_pos(const CtArchive* ct, std::uint32_t index) {
  return header_size_of(ct) + static_cast<std::uint64_t>(index) * entry_size_of(ct);
}

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

void attach_handle(CtArchive* ct, CtFileContext* c, std::uint16_t signature, std::uint16_t version,
                   std::uint32_t table_count) {
  ct->signature = signature;
  ct->version = version;
  ct->table_count = table_count;
  std::memset(&ct->entry, 0, sizeof ct->entry);
  ct->context = c;
}

int read_header(CtStream& s, std::uint16_t* signature, std::uint16_t* version,
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

}  // namespace ct_detail
