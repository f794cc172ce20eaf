// ctbuild: builds a configuration-table archive (.ct) from its text form.
//
//   ctbuild [-t TAGLIST] INPUT.txt OUTPUT.ct      (INPUT "-" reads standard input)
//
// Text form (one statement per line; "#" outside quotes starts a comment;
// leading white space is ignored):
//
//   table TYPE "NAME" [nodata]   starts a table; TYPE 0..65535, NAME at most
//                                10 bytes (10 bytes are stored without a
//                                terminator); nodata: an entry with offset 0
//   header HH HH ...             table header bytes, two hex digits each; may
//                                repeat (bytes are appended); before fields
//   fields FIELD ...             the record layout, once per table with data;
//                                an empty list means record size 0
//   record VALUE ...             one record, one value per field
//   end                          ends the table
//
//   FIELD:  u8 u16 u32 u64       unsigned little-endian integer (decimal or 0x hex)
//           i8 i16 i32 i64       signed little-endian integer
//           x8 x16 x32 x64       unsigned, printed by ctdump as zero-padded hex
//           textN                quoted text of at most N bytes, NUL-padded to N
//           bytesN               exactly 2N hex digits
//           tag                  32-bit tag reference: tag:NAME (index of NAME in
//                                the tag list given with -t), none (0xFFFFFFFF)
//                                or a number
//   Quoted texts: escapes \\ \" \n \r \t \xHH; other bytes stand for themselves.
//
// Tables are written in the order given, through the library's archive
// writer (version 0x0300). The full description is in FORMAT.md.
#include <fstream>
#include <iostream>
#include <string>

#include "support/archive_text.h"

namespace {

int usage() {
  std::cerr << "usage: ctbuild [-t TAGLIST] INPUT.txt OUTPUT.ct\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tag_path, input, output;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-t" && i + 1 < argc) tag_path = argv[++i];
    else if (a == "-h" || a == "--help") return usage();
    else if (input.empty()) input = a;
    else if (output.empty()) output = a;
    else return usage();
  }
  if (input.empty() || output.empty()) return usage();

  std::string error;
  cttext::TagList tags;
  if (!tag_path.empty() && !cttext::load_tags(tag_path, tags, error)) {
    std::cerr << "ctbuild: " << error << '\n';
    return 1;
  }
  cttext::Archive archive;
  bool ok;
  if (input == "-") {
    ok = cttext::parse(std::cin, "<stdin>", tag_path.empty() ? nullptr : &tags, false, archive, error);
  } else {
    std::ifstream in(input, std::ios::binary);
    if (!in) {
      std::cerr << "ctbuild: " << input << ": cannot open\n";
      return 1;
    }
    ok = cttext::parse(in, input, tag_path.empty() ? nullptr : &tags, false, archive, error);
  }
  if (!ok || !cttext::write_archive(archive, output, error)) {
    std::cerr << "ctbuild: " << error << '\n';
    return 1;
  }
  return 0;
}
