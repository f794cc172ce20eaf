#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/archive.h"
#include "support/archive_writer.h"
#include "tests/support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

using Refs = std::vector<std::uint32_t>;
constexpr std::uint32_t kNone = 0xFFFFFFFF;

class DomainTest : public ::testing::Test {
 protected:
  // `file` holding one table `name` of `size`-byte records (cut or padded
  // with zeros).
  void archive(const std::string& file, const char* name, std::uint32_t size, std::vector<std::string> records) {
    fs::create_directories((dir_ / file).parent_path());
    CtArchive ct{};
    ASSERT_EQ(ct_create(&ct, base().c_str(), file.c_str()), CT_OK);
    ASSERT_EQ(ct_add_table(&ct, 1, name, nullptr, 0, size), CT_OK);
    for (std::string& rec : records) {
      rec.resize(size);
      ASSERT_EQ(ct_append_records(&ct, rec.data(), size, 1), CT_OK);
    }
    ASSERT_EQ(ct_close(&ct), CT_OK);
  }

  // domain.ct: one 44-byte record per (name, parent), 16 bytes each.
  void domains(const std::vector<std::pair<std::string, std::string>>& rows, std::uint32_t size = 44) {
    std::vector<std::string> records;
    for (std::pair<std::string, std::string> row : rows) {
      row.first.resize(16);
      records.push_back(row.first + row.second);
    }
    archive("ct/domain.ct", "DOMAIN", size, records);
  }

  // <domain>/ct/global.ct: (identifier, reference) records, little-endian.
  void globals(const std::string& domain, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& rows) {
    std::vector<std::string> records;
    for (const auto& [id, ref] : rows) {
      const std::uint32_t rec[2] = {id, ref};
      records.emplace_back(reinterpret_cast<const char*>(rec), sizeof rec);
    }
    archive(domain + "/ct/global.ct", "GLOBAL", 8, records);
  }

  int resolve(Refs ids, char* domain) {
    refs_.assign(ids.size(), 0);
    return ct_resolve_globals(refs_.data(), static_cast<int>(ids.size()), ids.data(), base().c_str(), domain);
  }

  std::string base() const { return dir_.string(); }
  vdtest::ScratchDir scratch_{"ct_domain_"};
  const fs::path dir_ = scratch_.Dir();
  Refs refs_;
};

// Found in both: the domain's own; 9 from the parent named with leading
// blanks; the first record of an identifier counts, one record per request.
TEST_F(DomainTest, DomainIsSearchedBeforeItsParent) {
  domains({{"other", "x"}, {"LINE1", "  plant"}, {"line1", "elsewhere"}, {"plant", ""}});
  globals("line1", {{5, 0x00000011}, {7, 0x00000012}, {7, 0x00000099}});
  globals("plant", {{5, 0x00000021}, {9, 0x00000022}});
  char domain[32] = "Line1";
  EXPECT_EQ(resolve({5, 9, 7, 4}, domain), 3);
  EXPECT_EQ(refs_, (Refs{0x11, 0x22, 0x12, kNone}));
  EXPECT_STREQ(domain, "line1");  // lower-cased in place
  char again[32] = "LINE1";
  EXPECT_EQ(resolve({7, 7, 7}, again), 2);
  EXPECT_EQ(refs_, (Refs{0x12, 0x99, kNone}));
}

TEST_F(DomainTest, WalkStopsAtABlankParentAndACycleOfParentsEnds) {
  domains({{"line1", "   "}, {"plant", ""}});
  globals("line1", {{5, 0x11}});
  globals("plant", {{9, 0x22}});
  char line1[32] = "line1";
  EXPECT_EQ(resolve({5, 9}, line1), 1);
  EXPECT_EQ(refs_, (Refs{0x11, kNone}));

  domains({{"a", "b"}, {"b", "C"}, {"c", "A"}, {"self", "self"}});
  globals("a", {{1, 0x101}});
  globals("b", {{2, 0x102}});
  globals("c", {{3, 0x103}});
  globals("self", {});
  char domain[32] = "a";
  EXPECT_EQ(resolve({3, 2, 1, 404}, domain), 3);
  EXPECT_EQ(refs_, (Refs{0x103, 0x102, 0x101, kNone}));
  char self[32] = "SELF";
  EXPECT_EQ(resolve({1}, self), 0);
}

TEST_F(DomainTest, MissingOrMalformedArchives) {
  char domain[32] = "line1";
  EXPECT_EQ(resolve({5}, domain), -1);  // no domain.ct
  // The first domain's global.ct is missing: its parent still answers.
  domains({{"line1", "plant"}, {"plant", "site"}});
  globals("plant", {{6, 0x26}});
  EXPECT_EQ(resolve({5, 6}, domain), 1);
  EXPECT_EQ(refs_, (Refs{kNone, 0x26}));
  // The parent's missing global.ct does not take back what was found.
  globals("line1", {{5, 0x15}});
  EXPECT_EQ(resolve({7, 5}, domain), 1);
  EXPECT_EQ(refs_, (Refs{kNone, 0x15}));
  // A domain name too long for the path resolves nothing.
  std::string longname(140, 'd');
  EXPECT_EQ(resolve({5}, longname.data()), 0);
  domains({{"line1", ""}}, 40);
  EXPECT_EQ(resolve({5}, domain), -1);  // wrong domain record size
}

}  // namespace
