// The archive reader's and writer's shared internals: little-endian fields,
// index entries, the buffered stream, path resolution and the handle's
// bookkeeping. Not part of the archive interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/archive.h"

namespace ct_detail {

std::uint16_t le16(const unsigned char* p);
std::uint32_t le32(const unsigned char* p);
void put16(unsigned char* p, std::uint16_t v);
void put32(unsigned char* p, std::uint32_t v);

// An index entry in its 22-byte (old) or 28-byte form.
CtEntry decode_entry(const unsigned char* p, bool old);
void encode_entry(unsigned char* p, const CtEntry& e);

// The buffered stream. Reads and writes return CT_OK, CT_ERR_SEEK,
// CT_ERR_READ or CT_ERR_WRITE; a read gets exactly n bytes or fails.
bool stream_open(CtStream& s, const char* path, const char* mode);
int stream_close(CtStream& s);
int stream_seek(CtStream& s, std::uint64_t pos, int next_op);
int stream_read(CtStream& s, std::uint64_t pos, void* dst, std::size_t n);
int stream_write(CtStream& s, std::uint64_t pos, const void* src, std::size_t n);

// Base directory joined with name through the path rules (brace references
// expanded, drive letters, "\\" and "/" alike); false when the result does
// not fit the context's path.
bool resolve_path(char (&out)[CT_PATH_SIZE], const char* base, const char* name);
// Removes a file through the platform's file layer.
void remove_file(const char* path);

bool writing(const CtFileContext* c);
CtStream& index_stream(CtFileContext* c);
CtStream& data_stream(CtFileContext* c);
std::uint64_t entry_pos(const CtArchive* ct, std::uint32_t index);
// Reads index entry `index`; every failure is CT_ERR_READ.
int read_entry(CtArchive* ct, std::uint32_t index, CtEntry* out);
// Byte comparison with strncmp's rule: equal up to the first NUL, at most 10 bytes.
bool name_matches(const char (&stored)[CT_NAME_SIZE], const char* name);
// Closes every stream of the context and removes the spill files.
void close_all(CtFileContext* c);
void reset_handle(CtArchive* ct);
// Gives the handle its open context and header, no table selected.
void attach_handle(CtArchive* ct, CtFileContext* c, std::uint16_t signature, std::uint16_t version,
                   std::uint32_t table_count);
// Reads and checks the header of the open stream.
int read_header(CtStream& s, std::uint16_t* signature, std::uint16_t* version, std::uint32_t* table_count);
int check_open(const CtArchive* ct);

}  // namespace ct_detail
