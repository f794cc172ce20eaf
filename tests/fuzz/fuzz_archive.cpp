// Feeds bytes as an archive file: opens it, walks every table and record,
// searches by name and type, rewrites it through the update path, and uses
// it as domain.ct and global.ct for the domain lookup.
#include <vector>

#include "support/archive.h"
#include "support/archive_writer.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

void walk(CtArchive* ct) {
  std::vector<unsigned char> buffer;
  for (std::uint32_t i = 0; i < ct->table_count && i < 64 && ct_select(ct, i) == CT_OK; ++i) {
    const CtEntry e = ct->entry;
    std::size_t want = e.header_size > e.record_size ? e.header_size : e.record_size;
    buffer.resize(want <= 4096 ? want : 16);  // a large size also tests the buffer check
    ct_read_header(ct, buffer.data(), buffer.size());
    for (std::uint32_t k = 0; k < e.record_count && k < 4096; ++k)
      if (ct_read_record(ct, buffer.data(), buffer.size(), k) != CT_OK) break;
    ct_read_records(ct, buffer.data(), buffer.size(), e.record_count - 1, 2);
    ct_read_records(ct, buffer.data(), buffer.size(), 0, e.record_count);
  }
  std::uint16_t type = 1;
  ct_find(ct, "ABCDEFGHIJ");
  ct_find_nth(ct, nullptr, &type, 2);
}

}  // namespace

VD_FUZZ(bytes) {
  const auto& dir = fuzz::WorkDir("fuzz_archive_");
  const std::string base = dir.string();
  fuzz::Put(dir / "a.ct", bytes);
  CtArchive ct{};
  if (ct_open(&ct, base.c_str(), "a.ct") == CT_OK) {
    walk(&ct);
    ct_close(&ct);
  }
  if (ct_update(&ct, base.c_str(), "a.ct") == CT_OK) {
    walk(&ct);
    if (ct.table_count > 0 && ct_select(&ct, 0) == CT_OK && ct.entry.record_size <= 64) {
      unsigned char rec[64] = {};
      ct_append_records(&ct, rec, sizeof rec, 1);
    }
    if (ct_close(&ct) == CT_OK) {
      // What the writer committed must open again.
      if (ct_open(&ct, base.c_str(), "a.ct") != CT_OK) __builtin_trap();
      walk(&ct);
      ct_close(&ct);
    }
  }
  fuzz::Put(dir / "ct" / "domain.ct", bytes);
  fuzz::Put(dir / "d" / "ct" / "global.ct", bytes);
  std::uint32_t ids[3] = {0, 5, 0x01010101}, refs[3];
  char domain[32] = "D";
  ct_resolve_globals(refs, 3, ids, base.c_str(), domain);
  fuzz::Remove(dir);
}
