// Configuration-table archives: the writing side (create, update, tables
// and records, and the commit that ct_close runs). Only the tools link it.
#include "support/archive_writer.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/files.h"
#include "support/archive_stream.h"

using namespace ct_detail;

namespace {

constexpr std::uint32_t kSpillZeroBlock = 28;  // data_spill starts with this many zero bytes

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

}  // namespace

int ct_create(CtArchive* ct, const char* base_dir, const char* name) {
  if (!ct || !name) return CT_ERR_NULL;
  auto* c = new (std::nothrow) CtFileContext;
  if (!c) return CT_ERR_OPEN;
  if (!resolve_path(c->path, base_dir, name)) {
    delete c;
    return CT_ERR_OPEN;
  }
  c->mode = CT_MODE_CREATE;
  c->commit = &commit;
  int rc = open_spills(c);
  if (rc != CT_OK) {
    close_all(c);
    delete c;
    return rc;
  }
  attach_handle(ct, c, CT_SIGNATURE, CT_VERSION, 0);
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
  int rc = read_header(c->stream, &signature, &version, &count);
  if (rc != CT_OK) return fail(rc);
  if (version != CT_VERSION) return fail(CT_ERR_VERSION);
  c->mode = CT_MODE_UPDATE;
  c->commit = &commit;
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
  attach_handle(ct, c, signature, version, count);
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
