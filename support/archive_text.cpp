// Parser and printer of the archive text form (see FORMAT.md).
#include "support/archive_text.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

#include "support/archive_writer.h"

namespace cttext {
namespace {

// Largest table header or record the dump holds in memory.
constexpr std::size_t kMaxBlock = 256u << 20;

struct Token {
  std::string text;  // unescaped contents for a quoted token
  bool quoted = false;
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits a line into tokens; "#" outside quotes starts a comment.
bool tokenize(const std::string& line, std::vector<Token>& out, std::string& why) {
  out.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '#') break;
    Token t;
    if (c == '"') {
      t.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d != '\\') {
          t.text += d;
          continue;
        }
        if (i >= line.size()) break;
        char e = line[i++];
        switch (e) {
          case '\\': t.text += '\\'; break;
          case '"': t.text += '"'; break;
          case 'n': t.text += '\n'; break;
          case 'r': t.text += '\r'; break;
          case 't': t.text += '\t'; break;
          case 'x': {
            int h = i < line.size() ? hex_digit(line[i]) : -1;
            int l = i + 1 < line.size() ? hex_digit(line[i + 1]) : -1;
            if (h < 0 || l < 0) {
              why = "\\x needs two hex digits";
              return false;
            }
            t.text += static_cast<char>(h * 16 + l);
            i += 2;
            break;
          }
          default:
            why = std::string("unknown escape \\") + e;
            return false;
        }
      }
      if (!closed) {
        why = "unterminated quoted text";
        return false;
      }
      if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') {
        why = "quoted text must be followed by white space";
        return false;
      }
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') {
        if (line[i] == '"') {
          why = "quote inside a word";
          return false;
        }
        t.text += line[i++];
      }
    }
    out.push_back(std::move(t));
  }
  return true;
}

// Parses an integer: decimal (optionally negative when allowed) or 0x hex.
bool parse_int(const std::string& s, bool allow_negative, std::uint64_t max_positive, std::uint64_t max_negative,
               std::int64_t& value_signed, std::uint64_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (!s.empty() && s[0] == '-') {
    if (!allow_negative) return false;
    negative = true;
    i = 1;
  }
  int base = 10;
  if (s.size() > i + 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  std::uint64_t v = 0;
  for (; i < s.size(); ++i) {
    int d = base == 16 ? hex_digit(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
    if (d < 0) return false;
    if (v > (UINT64_MAX - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) return false;
    v = v * base + static_cast<std::uint64_t>(d);
  }
  if (negative) {
    if (v > max_negative) return false;
    value_signed = v == 0 ? 0 : -static_cast<std::int64_t>(v - 1) - 1;
    value = static_cast<std::uint64_t>(value_signed);
  } else {
    if (v > max_positive) return false;
    value = v;
    value_signed = static_cast<std::int64_t>(v);
  }
  return true;
}

bool parse_unsigned(const std::string& s, std::uint64_t max, std::uint64_t& value) {
  std::int64_t ignored;
  return parse_int(s, false, max, 0, ignored, value);
}

bool parse_field_type(const std::string& s, FieldType& f) {
  auto sized = [&](const char* prefix, FieldType::Kind kind) {
    std::size_t n = std::strlen(prefix);
    if (s.compare(0, n, prefix) != 0 || s.size() == n || s[n] == '0') return false;
    std::uint64_t w;
    if (!parse_unsigned(s.substr(n), 65535, w) || s.find('x', n) != std::string::npos || w == 0) return false;
    f.kind = kind;
    f.width = static_cast<std::uint32_t>(w);
    return true;
  };
  if (s == "tag") {
    f.kind = FieldType::Tag;
    f.width = 4;
    return true;
  }
  if (sized("text", FieldType::Text) || sized("bytes", FieldType::Bytes)) return true;
  static const struct {
    const char* name;
    FieldType::Kind kind;
    std::uint32_t width;
  } ints[] = {{"u8", FieldType::Unsigned, 1}, {"u16", FieldType::Unsigned, 2}, {"u32", FieldType::Unsigned, 4},
              {"u64", FieldType::Unsigned, 8}, {"i8", FieldType::Signed, 1},   {"i16", FieldType::Signed, 2},
              {"i32", FieldType::Signed, 4},   {"i64", FieldType::Signed, 8},   {"x8", FieldType::Hex, 1},
              {"x16", FieldType::Hex, 2},      {"x32", FieldType::Hex, 4},      {"x64", FieldType::Hex, 8}};
  for (const auto& i : ints) {
    if (s == i.name) {
      f.kind = i.kind;
      f.width = i.width;
      return true;
    }
  }
  return false;
}

std::string field_type_name(const FieldType& f) {
  const char* prefix = "?";
  std::uint32_t n = f.width * 8;
  switch (f.kind) {
    case FieldType::Unsigned: prefix = "u"; break;
    case FieldType::Signed: prefix = "i"; break;
    case FieldType::Hex: prefix = "x"; break;
    case FieldType::Text: prefix = "text", n = f.width; break;
    case FieldType::Bytes: prefix = "bytes", n = f.width; break;
    case FieldType::Tag: return "tag";
  }
  char name[32];
  std::snprintf(name, sizeof name, "%s%u", prefix, static_cast<unsigned>(n));
  return name;
}

void put_le(unsigned char* p, std::uint64_t v, std::uint32_t width) {
  for (std::uint32_t i = 0; i < width; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t get_le(const unsigned char* p, std::uint32_t width) {
  std::uint64_t v = 0;
  for (std::uint32_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

// Encodes one value into width bytes at p; false with a reason.
bool encode_value(const Token& t, const FieldType& f, const TagList* tags, unsigned char* p, std::string& why) {
  std::uint64_t max = f.width >= 8 ? UINT64_MAX : (1ull << (8 * f.width)) - 1;
  switch (f.kind) {
    case FieldType::Unsigned:
    case FieldType::Hex: {
      std::uint64_t v;
      if (t.quoted || !parse_unsigned(t.text, max, v)) {
        why = "'" + t.text + "' is not an unsigned " + std::to_string(f.width * 8) + "-bit number";
        return false;
      }
      put_le(p, v, f.width);
      return true;
    }
    case FieldType::Signed: {
      std::uint64_t half = f.width >= 8 ? (1ull << 63) : (1ull << (8 * f.width - 1));
      std::int64_t s;
      std::uint64_t v;
      if (t.quoted || !parse_int(t.text, true, half - 1, half, s, v)) {
        why = "'" + t.text + "' is not a signed " + std::to_string(f.width * 8) + "-bit number";
        return false;
      }
      put_le(p, v, f.width);
      return true;
    }
    case FieldType::Text:
      if (!t.quoted) {
        why = "a text field needs a quoted text";
        return false;
      }
      if (t.text.size() > f.width) {
        why = "text of " + std::to_string(t.text.size()) + " bytes does not fit in " + field_type_name(f);
        return false;
      }
      std::memset(p, 0, f.width);
      std::memcpy(p, t.text.data(), t.text.size());
      return true;
    case FieldType::Bytes:
      if (t.quoted || t.text.size() != 2ull * f.width) {
        why = field_type_name(f) + " needs exactly " + std::to_string(2ull * f.width) + " hex digits";
        return false;
      }
      for (std::uint32_t i = 0; i < f.width; ++i) {
        int h = hex_digit(t.text[2 * i]), l = hex_digit(t.text[2 * i + 1]);
        if (h < 0 || l < 0) {
          why = "'" + t.text + "' is not hex";
          return false;
        }
        p[i] = static_cast<unsigned char>(h * 16 + l);
      }
      return true;
    case FieldType::Tag: {
      if (!t.quoted && t.text == "none") {
        put_le(p, 0xFFFFFFFFu, 4);
        return true;
      }
      if (!t.quoted && t.text.compare(0, 4, "tag:") == 0) {
        std::string name = t.text.substr(4);
        if (!tags) {
          why = "tag name '" + name + "' needs a tag list (-t)";
          return false;
        }
        int index = tags->find(name);
        if (index < 0) {
          why = "unknown tag '" + name + "'";
          return false;
        }
        put_le(p, static_cast<std::uint64_t>(index), 4);
        return true;
      }
      std::uint64_t v;
      if (t.quoted || !parse_unsigned(t.text, 0xFFFFFFFFu, v)) {
        why = "'" + t.text + "' is not a tag reference (tag:NAME, none or a number)";
        return false;
      }
      put_le(p, v, 4);
      return true;
    }
  }
  return false;
}

void print_quoted(std::ostream& out, const unsigned char* p, std::size_t n) {
  while (n > 0 && p[n - 1] == 0) --n;  // the padding
  static const char hex[] = "0123456789abcdef";
  out << '"';
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (c == '"' || c == '\\') out << '\\' << static_cast<char>(c);
    else if (c == '\n') out << "\\n";
    else if (c == '\r') out << "\\r";
    else if (c == '\t') out << "\\t";
    else if (c < 0x20 || c == 0x7F) out << "\\x" << hex[c >> 4] << hex[c & 15];
    else out << static_cast<char>(c);
  }
  out << '"';
}

void print_value(std::ostream& out, const FieldType& f, const unsigned char* p, const TagList* tags) {
  static const char hex[] = "0123456789abcdef";
  std::uint64_t v = f.kind == FieldType::Text || f.kind == FieldType::Bytes ? 0 : get_le(p, f.width);
  switch (f.kind) {
    case FieldType::Unsigned: out << v; break;
    case FieldType::Signed: {
      std::int64_t s = static_cast<std::int64_t>(v);
      if (f.width < 8 && (v >> (8 * f.width - 1)) != 0) s = static_cast<std::int64_t>(v) - (std::int64_t{1} << (8 * f.width));
      out << s;
      break;
    }
    case FieldType::Hex:
      out << "0x";
      for (int i = static_cast<int>(f.width) * 2 - 1; i >= 0; --i) out << hex[(v >> (4 * i)) & 15];
      break;
    case FieldType::Text: print_quoted(out, p, f.width); break;
    case FieldType::Bytes:
      for (std::uint32_t i = 0; i < f.width; ++i) out << hex[p[i] >> 4] << hex[p[i] & 15];
      break;
    case FieldType::Tag:
      if (v == 0xFFFFFFFFu) out << "none";
      else if (tags && v < tags->names.size()) out << "tag:" << tags->names[static_cast<std::size_t>(v)];
      else out << v;
      break;
  }
}

}  // namespace

int TagList::find(const std::string& name) const {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<int>(i);
  return -1;
}

bool load_tags(const std::string& path, TagList& tags, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open the tag list";
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string name;
    if (!(words >> name)) continue;
    if (tags.names.size() >= 0xFFFF) {
      error = path + ":" + std::to_string(number) + ": more tags than a reference can index";
      return false;
    }
    tags.names.push_back(name);
  }
  return true;
}

bool parse(std::istream& in, const std::string& source, const TagList* tags, bool layouts_only, Archive& out,
           std::string& error) {
  std::string line;
  std::vector<Token> tokens;
  int number = 0;
  Table* table = nullptr;
  auto fail = [&](const std::string& why) {
    error = source + ":" + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    std::string why;
    if (!tokenize(line, tokens, why)) return fail(why);
    if (tokens.empty()) continue;
    const Token& word = tokens[0];
    const std::string& key = word.text;
    if (word.quoted) return fail("a line must start with a keyword");
    if (key == "table") {
      if (table) return fail("'table' inside table started at line " + std::to_string(table->line) + " (missing 'end')");
      if (tokens.size() < 3 || tokens.size() > 4) return fail("expected: table TYPE \"NAME\" [nodata]");
      Table t;
      t.line = number;
      std::uint64_t type;
      if (tokens[1].quoted || !parse_unsigned(tokens[1].text, 0xFFFF, type))
        return fail("table type '" + tokens[1].text + "' is not a number from 0 to 65535");
      t.type = static_cast<std::uint16_t>(type);
      if (!tokens[2].quoted) return fail("the table name must be quoted");
      if (tokens[2].text.size() > CT_NAME_SIZE) return fail("table name longer than 10 bytes");
      t.name = tokens[2].text;
      if (tokens.size() == 4) {
        if (tokens[3].quoted || tokens[3].text != "nodata") return fail("unexpected '" + tokens[3].text + "'");
        t.has_data = false;
      }
      out.tables.push_back(std::move(t));
      table = &out.tables.back();
    } else if (key == "end") {
      if (!table) return fail("'end' without 'table'");
      if (tokens.size() != 1) return fail("unexpected text after 'end'");
      if (table->has_data && !table->has_fields) return fail("table without a 'fields' line");
      table = nullptr;
    } else if (key == "header") {
      if (!table) return fail("'header' outside a table");
      if (!table->has_data) return fail("a nodata table has no header");
      if (table->has_fields) return fail("'header' must come before 'fields'");
      for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::string& b = tokens[i].text;
        if (tokens[i].quoted || b.size() != 2 || hex_digit(b[0]) < 0 || hex_digit(b[1]) < 0)
          return fail("header byte '" + b + "' is not two hex digits");
        table->header.push_back(static_cast<unsigned char>(hex_digit(b[0]) * 16 + hex_digit(b[1])));
      }
      if (static_cast<std::uint64_t>(table->header.size()) >= 0xFFFFFFFFull) return fail("header too large");
    } else if (key == "fields") {
      if (!table) return fail("'fields' outside a table");
      if (!table->has_data) return fail("a nodata table has no fields");
      if (table->has_fields) return fail("second 'fields' line in a table");
      std::uint64_t size = 0;
      for (std::size_t i = 1; i < tokens.size(); ++i) {
        FieldType f;
        if (tokens[i].quoted || !parse_field_type(tokens[i].text, f))
          return fail("unknown field type '" + tokens[i].text +
                      "' (u8 u16 u32 u64 i8 i16 i32 i64 x8 x16 x32 x64 textN bytesN tag)");
        table->fields.push_back(f);
        size += f.width;
      }
      if (size > 0xFFFFFFFFull) return fail("record size beyond 32 bits");
      table->record_size = static_cast<std::uint32_t>(size);
      table->has_fields = true;
    } else if (key == "record") {
      if (!table) return fail("'record' outside a table");
      if (!table->has_fields) return fail("'record' before 'fields'");
      if (layouts_only) continue;
      if (tokens.size() - 1 != table->fields.size())
        return fail("record has " + std::to_string(tokens.size() - 1) + " values, fields declare " +
                    std::to_string(table->fields.size()));
      if (table->record_count == 0xFFFFFFFFu) return fail("too many records");
      std::size_t at = table->records.size();
      table->records.resize(at + table->record_size);
      for (std::size_t i = 0; i < table->fields.size(); ++i) {
        if (!encode_value(tokens[i + 1], table->fields[i], tags, table->records.data() + at, why))
          return fail("value " + std::to_string(i + 1) + " (" + field_type_name(table->fields[i]) + "): " + why);
        at += table->fields[i].width;
      }
      ++table->record_count;
    } else {
      return fail("unknown keyword '" + key + "' (table, header, fields, record, end)");
    }
  }
  if (table) {
    number = table->line;
    return fail("table has no 'end'");
  }
  return true;
}

const char* code_text(int code) {
  switch (code) {
    case CT_OK: return "success";
    case CT_ERR_OPEN: return "cannot open the file";
    case CT_ERR_CLOSE: return "closing failed";
    case CT_ERR_NOT_OPEN: return "archive not open";
    case CT_ERR_SEEK: return "seek failed";
    case CT_ERR_READ: return "read failed or came short (truncated or corrupt archive)";
    case CT_ERR_WRITE: return "write failed";
    case CT_ERR_SIGNATURE: return "not a configuration-table archive (no \"CT\" signature)";
    case CT_ERR_NULL: return "missing argument";
    case CT_ERR_TABLE: return "no such table, or table without data";
    case CT_ERR_RANGE: return "record range beyond the table";
    case CT_ERR_VERSION: return "unsupported archive version";
    case CT_ERR_BUFFER: return "buffer too small";
    case CT_ERR_NOMEM: return "out of memory";
  }
  return "unknown error";
}

bool write_archive(const Archive& archive, const std::string& path, std::string& error) {
  CtArchive ct{};
  int rc = ct_create(&ct, nullptr, path.c_str());
  if (rc != CT_OK) {
    error = path + ": " + code_text(rc);
    return false;
  }
  for (const Table& t : archive.tables) {
    rc = ct_add_table(&ct, t.type, t.name.c_str(), t.header.data(), static_cast<std::uint32_t>(t.header.size()),
                      t.record_size, t.has_data);
    if (rc == CT_OK && t.record_count > 0)
      rc = ct_append_records(&ct, t.records.data(), t.records.size(), t.record_count);
    if (rc != CT_OK) {
      ct_discard(&ct);
      error = path + ": table at line " + std::to_string(t.line) + ": " + code_text(rc);
      return false;
    }
  }
  rc = ct_close(&ct);
  if (rc != CT_OK) {
    error = path + ": " + code_text(rc);
    return false;
  }
  return true;
}

bool dump_archive(CtArchive* ct, const Archive* layouts, const TagList* tags, std::ostream& out,
                  std::string& error) {
  std::vector<unsigned char> buffer;
  for (std::uint32_t i = 0; i < ct->table_count; ++i) {
    int rc = ct_select(ct, i);
    if (rc != CT_OK) {
      error = "table " + std::to_string(i) + ": " + code_text(rc);
      return false;
    }
    const CtEntry e = ct->entry;
    if (i > 0) out << '\n';
    out << "table " << e.type << ' ';
    print_quoted(out, reinterpret_cast<const unsigned char*>(e.name), CT_NAME_SIZE);
    if (e.offset == 0) {
      out << " nodata\nend\n";
      continue;
    }
    out << '\n';
    std::size_t want = e.header_size > e.record_size ? e.header_size : e.record_size;
    if (want > kMaxBlock) {
      error = "table " + std::to_string(i) + ": header or record size " + std::to_string(want) +
              " is implausible (corrupt archive?)";
      return false;
    }
    try {
      if (buffer.size() < want) buffer.resize(want);
    } catch (const std::exception&) {
      error = "table " + std::to_string(i) + ": sizes too large for memory (corrupt archive?)";
      return false;
    }
    if (e.header_size > 0) {
      rc = ct_read_header(ct, buffer.data(), buffer.size());
      if (rc != CT_OK) {
        error = "table " + std::to_string(i) + " header: " + code_text(rc);
        return false;
      }
      static const char hex[] = "0123456789abcdef";
      for (std::uint32_t k = 0; k < e.header_size; k += 16) {
        out << "  header";
        for (std::uint32_t j = k; j < e.header_size && j < k + 16; ++j)
          out << ' ' << hex[buffer[j] >> 4] << hex[buffer[j] & 15];
        out << '\n';
      }
    }
    // The record layout: same type and name, else same type, if the sizes agree.
    std::vector<FieldType> fields;
    bool found = false;
    if (layouts) {
      std::size_t length = 0;
      while (length < CT_NAME_SIZE && e.name[length] != '\0') ++length;
      std::string name(e.name, length);
      for (int pass = 0; pass < 2 && !found; ++pass) {
        for (const Table& t : layouts->tables) {
          if (t.has_fields && t.type == e.type && t.record_size == e.record_size && (pass == 1 || t.name == name)) {
            fields = t.fields;
            found = true;
            break;
          }
        }
      }
    }
    if (!found && e.record_size > 0) fields.push_back({FieldType::Bytes, e.record_size});
    out << "  fields";
    for (const FieldType& f : fields) out << ' ' << field_type_name(f);
    out << '\n';
    for (std::uint32_t k = 0; k < e.record_count; ++k) {
      rc = ct_read_record(ct, buffer.data(), buffer.size(), k);
      if (rc != CT_OK) {
        error = "table " + std::to_string(i) + " record " + std::to_string(k) + ": " + code_text(rc);
        return false;
      }
      out << "  record";
      std::size_t at = 0;
      for (const FieldType& f : fields) {
        out << ' ';
        print_value(out, f, buffer.data() + at, tags);
        at += f.width;
      }
      out << '\n';
    }
    out << "end\n";
  }
  return true;
}

}  // namespace cttext
