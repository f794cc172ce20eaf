#include "support/archive.h"
#include "support/archive_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

void put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void put_name(Bytes& b, const char* name) {
  char n[10] = {};
  std::strncpy(n, name, 10);
  b.insert(b.end(), n, n + 10);
}

struct RawTable {
  std::uint16_t type;
  const char* name;
  Bytes header;
  std::uint32_t record_size;
  std::uint32_t record_count;
  Bytes data;  // records
  bool no_data = false;
};

Bytes make_archive(std::uint16_t version, const std::vector<RawTable>& tables) {
  const bool old = version == 0x0200;
  void (*const put)(Bytes&, std::uint32_t) = old ? put16 : put32;  // the sizes' width
  Bytes b = {'C', 'T'};
  put16(b, version);
  put(b, static_cast<std::uint32_t>(tables.size()));
  std::uint32_t at = static_cast<std::uint32_t>(b.size() + tables.size() * (old ? 22 : 28));
  Bytes data;
  for (const RawTable& t : tables) {
    put16(b, t.type);
    put_name(b, t.name);
    put32(b, t.no_data ? 0 : at + static_cast<std::uint32_t>(data.size()));
    put(b, static_cast<std::uint32_t>(t.header.size()));
    put(b, t.record_size);
    put(b, t.record_count);
    if (!t.no_data) {
      data.insert(data.end(), t.header.begin(), t.header.end());
      data.insert(data.end(), t.data.begin(), t.data.end());
    }
  }
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes seq(std::size_t n, unsigned char start) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(start + i);
  return b;
}

std::vector<RawTable> sample_tables() {
  return {
      {1, "ROWS", seq(4, 0xA0), 6, 3, seq(18, 1)},
      {2, "KEYS", {}, 2, 2, seq(4, 0x50)},
      {1, "MORE", seq(2, 0xB0), 1, 1, {0x77}},
  };
}

// The sample archive with bytes changed.
Bytes patched(std::initializer_list<std::pair<std::size_t, unsigned char>> changes) {
  Bytes b = make_archive(0x0300, sample_tables());
  for (auto [at, value] : changes) b[at] = value;
  return b;
}

class ArchiveTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (ct_.context) ct_discard(&ct_);
  }
  Bytes read(const std::string& name) {
    const std::string text = vdtest::ReadFile(dir_ / name);
    return Bytes(text.begin(), text.end());
  }
  std::string base() const { return dir_.string(); }
  int open(const std::string& name, const Bytes& bytes) {
    vdtest::WriteFile(dir_ / name, std::string(bytes.begin(), bytes.end()));
    return ct_open(&ct_, base().c_str(), name.c_str());
  }

  vdtest::ScratchDir scratch_{"ct_archive_"};
  const fs::path dir_ = scratch_.Dir();
  CtArchive ct_{};
};

// A table as type, sizes, name, header and records.
Bytes flat(const RawTable& t) {
  Bytes b;
  for (std::uint32_t v : {std::uint32_t{t.type}, static_cast<std::uint32_t>(t.header.size()), t.record_size, t.record_count})
    put32(b, v);
  put_name(b, t.name);
  b.insert(b.end(), t.header.begin(), t.header.end());
  b.insert(b.end(), t.data.begin(), t.data.end());
  return b;
}

// Table i as read back, flat.
Bytes contents(CtArchive& ct, std::uint32_t i) {
  EXPECT_EQ(ct_select(&ct, i), CT_OK);
  const CtEntry e = ct.entry;
  RawTable t{e.type, e.name, Bytes(e.header_size), e.record_size, e.record_count, Bytes(std::size_t{e.record_size} * e.record_count)};
  EXPECT_EQ(ct_read_header(&ct, t.header.data(), t.header.size()), CT_OK);
  EXPECT_EQ(ct_read_records(&ct, t.data.data(), t.data.size(), 0, e.record_count), CT_OK);
  return flat(t);
}

TEST_F(ArchiveTest, OpensAndReadsTablesInBothLayouts) {
  for (std::uint16_t version : {0x0300, 0x0200}) {
    ASSERT_EQ(open("a.ct", make_archive(version, sample_tables())), CT_OK);
    for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(contents(ct_, i), flat(sample_tables()[i])) << i;
    ASSERT_EQ(ct_select(&ct_, 1), CT_OK);
    EXPECT_EQ(ct_read_header(&ct_, nullptr, 0), CT_OK);  // header size 0 reads nothing
    EXPECT_EQ(ct_close(&ct_), CT_OK);
  }
  EXPECT_EQ(ct_close(&ct_), CT_ERR_NOT_OPEN);
  // 16-bit sizes widen without sign extension.
  ASSERT_EQ(open("wide.ct", make_archive(0x0200, {{7, "WIDE", {}, 0xFFFF, 1, Bytes(0xFFFF, 9)}})), CT_OK);
  ASSERT_EQ(ct_select(&ct_, 0), CT_OK);
  EXPECT_EQ(ct_.entry.record_size, 0xFFFFu);
}

TEST_F(ArchiveTest, RefusesBadFilesAndLeavesTheHandleClosed) {
  EXPECT_EQ(open("s.ct", patched({{0, 'X'}})), CT_ERR_SIGNATURE);
  EXPECT_EQ(open("e.ct", {}), CT_ERR_READ);
  EXPECT_EQ(open("o.ct", {'C', 'T', 0x00, 0x02, 0x01}), CT_ERR_READ);
  EXPECT_EQ(open("v1.ct", patched({{2, 0x01}, {3, 0x03}})), CT_ERR_VERSION);
  EXPECT_EQ(open("v2.ct", patched({{2, 0xFF}, {3, 0x01}})), CT_ERR_VERSION);
  EXPECT_EQ(ct_open(&ct_, base().c_str(), "missing.ct"), CT_ERR_OPEN);
  fs::create_directory(dir_ / "d.ct");
  EXPECT_EQ(ct_open(&ct_, base().c_str(), "d.ct"), CT_ERR_OPEN);  // a directory named as the archive
  EXPECT_EQ(ct_select(&ct_, 0), CT_ERR_NOT_OPEN);
  EXPECT_EQ(ct_read_record(&ct_, nullptr, 0, 0), CT_ERR_NOT_OPEN);

  ASSERT_EQ(open("v3.ct", patched({{2, 0x50}, {3, 0x02}})), CT_OK);  // between 0x0200 and 0x0300: current layout
  ASSERT_EQ(ct_select(&ct_, 2), CT_OK);
  EXPECT_STREQ(ct_.entry.name, "MORE");
}

TEST_F(ArchiveTest, SelectionAndReadsOutOfRangeOrPastTheFile) {
  Bytes b = make_archive(0x0300, sample_tables());
  b[4] = 5;  // claims five entries, the file holds three and then data
  b.resize(8 + 28 * 3 + 10);
  ASSERT_EQ(open("a.ct", b), CT_OK);
  ASSERT_EQ(ct_select(&ct_, 1), CT_OK);
  EXPECT_EQ(ct_select(&ct_, 0xFFFFFFFFu), CT_ERR_TABLE);
  EXPECT_STREQ(ct_.entry.name, "KEYS");
  EXPECT_EQ(ct_select(&ct_, 4), CT_ERR_READ);  // entry lies past the end of the file
  EXPECT_STREQ(ct_.entry.name, "KEYS");
  EXPECT_EQ(ct_.context->entry_position, 8u + 28);
  ct_close(&ct_);

  // A huge table count does not wrap the entry position into the file.
  ASSERT_EQ(open("h.ct", patched({{4, 0xFF}, {5, 0xFF}, {6, 0xFF}, {7, 0xFF}})), CT_OK);
  EXPECT_EQ(ct_select(&ct_, 0x0924924Au), CT_ERR_READ);  // 8 + 28 * i wraps 32 bits to a small value
  ct_close(&ct_);

  // Record ranges and buffers.
  std::vector<RawTable> tables = sample_tables();
  tables.push_back({3, "NODATA", {}, 4, 2, {}, true});
  ASSERT_EQ(open("r.ct", make_archive(0x0300, tables)), CT_OK);
  unsigned char rec[64];
  EXPECT_EQ(ct_read_header(&ct_, rec, sizeof rec), CT_ERR_TABLE);  // nothing selected yet
  ASSERT_EQ(ct_select(&ct_, 0), CT_OK);
  EXPECT_EQ(ct_read_records(&ct_, rec, sizeof rec, 2, 2), CT_ERR_RANGE);
  EXPECT_EQ(ct_read_records(&ct_, rec, sizeof rec, 0xFFFFFFFFu, 2), CT_ERR_RANGE);  // would wrap to 0
  EXPECT_EQ(ct_read_records(&ct_, rec, sizeof rec, 3, 0), CT_OK);
  EXPECT_EQ(ct_read_records(&ct_, rec, 17, 0, 3), CT_ERR_BUFFER);
  EXPECT_EQ(ct_read_record(&ct_, rec, 5, 0), CT_ERR_BUFFER);
  EXPECT_EQ(ct_read_header(&ct_, rec, 3), CT_ERR_BUFFER);
  ASSERT_EQ(ct_select(&ct_, 3), CT_OK);
  EXPECT_EQ(ct_read_record(&ct_, rec, sizeof rec, 0), CT_ERR_TABLE);  // offset 0
  EXPECT_EQ(ct_read_header(&ct_, rec, sizeof rec), CT_ERR_TABLE);
  ct_close(&ct_);

  // An offset past the end of the file: short reads.
  ASSERT_EQ(open("far.ct", patched({{8 + 12 + 3, 0x40}})), CT_OK);  // table 0's offset beyond 1 GiB
  ASSERT_EQ(ct_select(&ct_, 0), CT_OK);
  EXPECT_EQ(ct_read_record(&ct_, rec, sizeof rec, 0), CT_ERR_READ);
  EXPECT_EQ(ct_read_header(&ct_, rec, sizeof rec), CT_ERR_READ);
}

TEST_F(ArchiveTest, WriterLaysOutTheFileAndReadsBackByteForByte) {
  ASSERT_EQ(ct_create(&ct_, base().c_str(), "w.ct"), CT_OK);
  const std::vector<RawTable> tables = sample_tables();
  for (const RawTable& t : tables) {
    const auto header_size = static_cast<std::uint32_t>(t.header.size());
    ASSERT_EQ(ct_add_table(&ct_, t.type, t.name, t.header.data(), header_size, t.record_size), CT_OK);
    EXPECT_EQ(ct_append_records(&ct_, t.data.data(), t.data.size() - 1, t.record_count), CT_ERR_BUFFER);
    ASSERT_EQ(ct_append_records(&ct_, t.data.data(), t.data.size(), t.record_count), CT_OK);
  }
  EXPECT_EQ(contents(ct_, 0), flat(tables[0]));  // readable before the commit
  EXPECT_FALSE(fs::exists(dir_ / "w.ct"));
  ASSERT_EQ(ct_close(&ct_), CT_OK);
  EXPECT_EQ(read("w.ct"), make_archive(0x0300, tables));
  // Only the archive remains: the spill files are gone.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  // A table without data and a name cut to 10 bytes.
  ASSERT_EQ(ct_create(&ct_, base().c_str(), "n.ct"), CT_OK);
  ASSERT_EQ(ct_add_table(&ct_, 3, "NODATA", nullptr, 0, 0, false), CT_OK);
  EXPECT_EQ(ct_append_records(&ct_, "z", 1, 1), CT_ERR_TABLE);
  ASSERT_EQ(ct_add_table(&ct_, 4, "ELEVENCHARS", nullptr, 0, 0), CT_OK);
  ASSERT_EQ(ct_close(&ct_), CT_OK);
  EXPECT_EQ(read("n.ct"), make_archive(0x0300, {{3, "NODATA", {}, 0, 0, {}, true}, {4, "ELEVENCHAR", {}, 0, 0, {}}}));
  ASSERT_EQ(ct_open(&ct_, base().c_str(), "n.ct"), CT_OK);
  EXPECT_EQ(ct_add_table(&ct_, 1, "X", nullptr, 0, 0), CT_ERR_NOT_OPEN);  // read mode
}

TEST_F(ArchiveTest, DiscardLeavesNoFileAndNoSpills) {
  vdtest::WriteFile(dir_ / "keep.ct", "old");
  for (const char* name : {"new.ct", "keep.ct"}) {
    ASSERT_EQ(ct_create(&ct_, base().c_str(), name), CT_OK);
    ASSERT_EQ(ct_add_table(&ct_, 9, "GONE", nullptr, 0, 1), CT_OK);
    ASSERT_EQ(ct_append_records(&ct_, "z", 1, 1), CT_OK);
    ASSERT_EQ(ct_discard(&ct_), CT_OK);
  }
  EXPECT_EQ(read("keep.ct"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ArchiveTest, ManyRecordsReadInAnyOrder) {
  // Odd record size so records straddle the stream buffer.
  const std::uint32_t size = 7, count = 20000;
  Bytes all(size * count);
  std::mt19937 rng(42);
  for (auto& c : all) c = static_cast<unsigned char>(rng());
  ASSERT_EQ(ct_create(&ct_, base().c_str(), "m.ct"), CT_OK);
  ASSERT_EQ(ct_add_table(&ct_, 1, "BIG", "hdr", 3, size), CT_OK);
  for (std::uint32_t k = 0; k < count; k += 1000)
    ASSERT_EQ(ct_append_records(&ct_, all.data() + k * size, 1000 * size, 1000), CT_OK);
  ASSERT_EQ(ct_close(&ct_), CT_OK);

  ASSERT_EQ(ct_open(&ct_, base().c_str(), "m.ct"), CT_OK);
  EXPECT_EQ(contents(ct_, 0), flat({1, "BIG", {'h', 'd', 'r'}, size, count, all}));
  // Every record, last to first: each read seeks backwards.
  unsigned char rec[size];
  for (std::uint32_t k = count; k-- > 0;) {
    ASSERT_EQ(ct_read_record(&ct_, rec, size, k), CT_OK);
    ASSERT_EQ(std::memcmp(rec, all.data() + k * size, size), 0) << k;
  }
}

}  // namespace
