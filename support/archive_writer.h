// Configuration-table archives: writing (ctbuild and the tests). The
// archive format and the reader are in support/archive.h; ct_close commits
// what a writing handle holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/archive.h"

// Writing. ct_create starts an empty version 0x0300 archive; ct_update loads
// an existing version 0x0300 archive. Both keep their work in two spill files
// beside the archive ("<path>.ix~", "<path>.dt~") until ct_close commits.
int ct_create(CtArchive* ct, const char* base_dir, const char* name);
int ct_update(CtArchive* ct, const char* base_dir, const char* name);
// Appends a table at the end of the index and selects it. The name is cut to
// 10 bytes and NUL-padded. has_data false writes an entry with offset 0 and
// all sizes 0 (header and record_size are then ignored).
int ct_add_table(CtArchive* ct, std::uint16_t type, const char* name, const void* header,
                 std::uint32_t header_size, std::uint32_t record_size, bool has_data = true);
// Appends count records of entry.record_size bytes to the current table.
int ct_append_records(CtArchive* ct, const void* records, std::size_t buffer_size, std::uint32_t count);
