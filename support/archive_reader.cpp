// Configuration-table archives: reading, and closing a handle (a handle
// opened for writing commits through the writer that opened it).
#include "support/archive.h"

#include <cstring>
#include <new>

#include "support/archive_stream.h"

using namespace ct_detail;

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
  int rc = read_header(c->stream, &signature, &version, &count);
  if (rc != CT_OK) {
    stream_close(c->stream);
    delete c;
    return rc;
  }
  attach_handle(ct, c, signature, version, count);
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
    rc = c->commit(ct);
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

