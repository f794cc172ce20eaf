// The readable text form of a configuration-table archive, shared by ctbuild
// (text -> archive) and ctdump (archive -> text). The form is described in
// tools/ctbuild/FORMAT.md.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "support/archive.h"

namespace cttext {

struct FieldType {
  enum Kind { Unsigned, Signed, Hex, Text, Bytes, Tag } kind = Unsigned;
  std::uint32_t width = 0;  // bytes
};

struct Table {
  int line = 0;  // where the table starts in its text
  std::uint16_t type = 0;
  std::string name;  // at most 10 bytes
  bool has_data = true;
  std::vector<unsigned char> header;
  bool has_fields = false;
  std::vector<FieldType> fields;
  std::uint32_t record_size = 0;
  std::uint32_t record_count = 0;
  std::vector<unsigned char> records;  // record_count * record_size bytes
};

struct Archive {
  std::vector<Table> tables;
};

// Tag names in the order of a tag list ("NAME TYPE INITIAL" per line, "#"
// comments); a tag's reference is its 0-based index.
struct TagList {
  std::vector<std::string> names;
  int find(const std::string& name) const;  // -1 when absent
};

// Each returns false with a message "<source>:<line>: ..." in error.
bool load_tags(const std::string& path, TagList& tags, std::string& error);
// tags may be null (then "tag:NAME" values are refused). With
// layouts_only the records are skipped unchecked: the text only serves as
// record layouts for the dump.
bool parse(std::istream& in, const std::string& source, const TagList* tags, bool layouts_only,
           Archive& out, std::string& error);

// Writes `archive` through the library's writer; false with a message.
bool write_archive(const Archive& archive, const std::string& path, std::string& error);

// Prints the open archive in the text form. A table's records are shown with
// the fields of the first table in `layouts` with the same type and name,
// else the same type, when their sizes add up to the record size; otherwise
// as bytes. With tags, references to listed tags are printed as tag names.
bool dump_archive(CtArchive* ct, const Archive* layouts, const TagList* tags, std::ostream& out,
                  std::string& error);

// A short text for an archive result code.
const char* code_text(int code);

}  // namespace cttext
