// ctdump: prints a configuration-table archive in the text form that
// ctbuild reads (see tools/ctbuild/FORMAT.md).
//
//   ctdump [-t TAGLIST] [-l LAYOUT.txt] ARCHIVE.ct
//
// -l takes record layouts from a text in ctbuild's form (its records are
// not checked): a table is printed with the fields of the first table there
// with the same type and name, else the same type, whose record size agrees;
// otherwise each record is one bytesN field. -t prints references to listed
// tags as tag:NAME; without it references are numbers (none for 0xFFFFFFFF).
#include <fstream>
#include <iostream>
#include <string>

#include "support/archive_text.h"

namespace {

int usage() {
  std::cerr << "usage: ctdump [-t TAGLIST] [-l LAYOUT.txt] ARCHIVE.ct\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tag_path, layout_path, archive_path;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-t" && i + 1 < argc) tag_path = argv[++i];
    else if (a == "-l" && i + 1 < argc) layout_path = argv[++i];
    else if (a == "-h" || a == "--help") return usage();
    else if (archive_path.empty()) archive_path = a;
    else return usage();
  }
  if (archive_path.empty()) return usage();

  std::string error;
  cttext::TagList tags;
  if (!tag_path.empty() && !cttext::load_tags(tag_path, tags, error)) {
    std::cerr << "ctdump: " << error << '\n';
    return 1;
  }
  cttext::Archive layouts;
  if (!layout_path.empty()) {
    std::ifstream in(layout_path, std::ios::binary);
    if (!in) {
      std::cerr << "ctdump: " << layout_path << ": cannot open\n";
      return 1;
    }
    if (!cttext::parse(in, layout_path, nullptr, true, layouts, error)) {
      std::cerr << "ctdump: " << error << '\n';
      return 1;
    }
  }

  CtArchive ct{};
  int rc = ct_open(&ct, nullptr, archive_path.c_str());
  if (rc != CT_OK) {
    std::cerr << "ctdump: " << archive_path << ": " << cttext::code_text(rc) << " (code " << rc << ")\n";
    return 1;
  }
  bool ok = cttext::dump_archive(&ct, layout_path.empty() ? nullptr : &layouts,
                                 tag_path.empty() ? nullptr : &tags, std::cout, error);
  ct_close(&ct);
  std::cout.flush();
  if (!ok) {
    std::cerr << "ctdump: " << archive_path << ": " << error << '\n';
    return 1;
  }
  return std::cout ? 0 : 1;
}
