#include "support/archive_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include "tests/support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

// Canonical text: what ctdump prints, so it must come back unchanged.
const char* const kCanonical =
    "table 1 \"SYSCMD\"\n"
    "  header 01 00 00 00 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10\n"
    "  header 11\n"
    "  fields u16 tag tag tag text16 i16 x32 bytes3 u8 i64 u64\n"
    "  record 102 tag:TRIG tag:FREE none \"C:\" -5 0x0000abcd 00ff10 255 -9223372036854775808 18446744073709551615\n"
    "  record 65535 7 tag:STOP 123456 \"a\\\"b\\\\c\\n\\x01\\t\\r\xe4\" -32768 0xffffffff 000000 0 9223372036854775807 0\n"
    "end\n"
    "\n"
    "table 9 \"EMPTY\" nodata\n"
    "end\n"
    "\n"
    "table 4 \"ZERO\"\n"
    "  fields\n"
    "  record\n"
    "  record\n"
    "end\n"
    "\n"
    "table 65535 \"ABCDEFGHIJ\"\n"
    "  fields text4 text3\n"
    "  record \"full\" \"a\\x00b\"\n"
    "end\n";

const char* const kTags = "# tags\nTRIG 4 0\nFREE 4 0\n\nSTOP 0 0 # stop tag\n";

class CtTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write("tags.lst", kTags);
    std::string error;
    ASSERT_TRUE(cttext::load_tags(path("tags.lst"), tags_, error)) << error;
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& text) { vdtest::WriteFile(dir_ / name, text); }
  std::string slurp(const std::string& name) { return vdtest::ReadFile(dir_ / name); }
  // Parses, writes, reopens and dumps with the text itself as layouts.
  std::string round_trip(const std::string& text, const cttext::TagList* tags) {
    std::string error;
    cttext::Archive parsed, layouts;
    std::istringstream in(text), again(text);
    EXPECT_TRUE(cttext::parse(in, "in", tags, false, parsed, error)) << error;
    EXPECT_TRUE(cttext::parse(again, "in", nullptr, true, layouts, error)) << error;
    EXPECT_TRUE(cttext::write_archive(parsed, path("rt.ct"), error)) << error;
    CtArchive ct{};
    EXPECT_EQ(ct_open(&ct, nullptr, path("rt.ct").c_str()), CT_OK);
    std::ostringstream out;
    EXPECT_TRUE(cttext::dump_archive(&ct, &layouts, tags, out, error)) << error;
    ct_close(&ct);
    return out.str();
  }
  std::string parse_error(const std::string& text, bool with_tags = true) {
    std::string error;
    cttext::Archive parsed;
    std::istringstream in(text);
    EXPECT_FALSE(cttext::parse(in, "in.txt", with_tags ? &tags_ : nullptr, false, parsed, error)) << text;
    return error;
  }

  vdtest::ScratchDir scratch_{"ct_text_"};
  const fs::path dir_ = scratch_.Dir();
  cttext::TagList tags_;
};

TEST_F(CtTextTest, CanonicalTextRoundTripsExactly) {
  EXPECT_EQ(round_trip(kCanonical, &tags_), kCanonical);

  // Without a tag list references are numbers, and numbers come back as such.
  std::string numeric = "table 1 \"T\"\n  fields tag tag\n  record 0 none\n  record 2 65536\nend\n";
  EXPECT_EQ(round_trip(numeric, nullptr), numeric);
  // With a tag list, indices of listed tags print as names; others stay numbers.
  EXPECT_EQ(round_trip(numeric, &tags_),
            "table 1 \"T\"\n  fields tag tag\n  record tag:TRIG none\n  record tag:STOP 65536\nend\n");
}

TEST_F(CtTextTest, NonCanonicalTextBuildsTheSameArchive) {
  std::string loose =
      "# comment\n"
      "table 0x1 \"T\"   # trailing comment\n"
      "\theader 0A\n"
      "fields u16 x8 i8\n"
      "record 0x10 10 -0x80\n"
      "end\n";
  EXPECT_EQ(round_trip(loose, nullptr), "table 1 \"T\"\n  header 0a\n  fields u16 x8 i8\n  record 16 0x0a -128\nend\n");
  // Without layouts the dump shows bytes.
  std::string error;
  CtArchive ct{};
  ASSERT_EQ(ct_open(&ct, nullptr, path("rt.ct").c_str()), CT_OK);
  std::ostringstream out;
  ASSERT_TRUE(cttext::dump_archive(&ct, nullptr, nullptr, out, error));
  ct_close(&ct);
  EXPECT_EQ(out.str(), "table 1 \"T\"\n  header 0a\n  fields bytes4\n  record 10000a80\nend\n");
}

TEST_F(CtTextTest, MalformedTextIsReportedWithItsLine) {
  const std::string t = "table 1 \"T\"\n";
  const std::pair<std::string, const char*> cases[] = {
      {t + "fields u16\nrecord 70000\nend\n", "in.txt:3: value 1 (u16): '70000' is not an unsigned 16-bit number"},
      {"\n\ntable 1 \"T\"\nfields u16\n", "in.txt:3: table has no 'end'"},
      {t + "fields u16 u8\nrecord 1\nend\n", "in.txt:3: record has 1 values, fields declare 2"},
      {t + "fields tag\nrecord tag:NOPE\nend\n", "in.txt:3: value 1 (tag): unknown tag 'NOPE'"},
      {"table 1 \"ELEVENCHARS\"\nend\n", "in.txt:1: table name longer than 10 bytes"},
      {t + "fields text2\nrecord \"abc\"\nend\n", "in.txt:3: value 1 (text2): text of 3 bytes does not fit in text2"},
      {"table 1 \"T\nend\n", "in.txt:1: unterminated quoted text"},
      {t + "end\n", "in.txt:2: table without a 'fields' line"},
      {"record 1\n", "in.txt:1: 'record' outside a table"},
      {"table 70000 \"T\"\n", "in.txt:1: table type '70000' is not a number from 0 to 65535"},
      {t + "fields i8\nrecord -129\nend\n", "in.txt:3: value 1 (i8): '-129' is not a signed 8-bit number"},
      {t + "fields bytes2\nrecord 0g00\nend\n", "in.txt:3: value 1 (bytes2): '0g00' is not hex"},
      {t + "header 1\n", "in.txt:2: header byte '1' is not two hex digits"},
      {"table 1 \"T\" nodata\nfields u8\nend\n", "in.txt:2: a nodata table has no fields"},
      {"bogus\n", "in.txt:1: unknown keyword 'bogus' (table, header, fields, record, end)"},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(parse_error(text), error) << text;
  EXPECT_EQ(parse_error(t + "fields tag\nrecord tag:STOP\nend\n", false),
            "in.txt:3: value 1 (tag): tag name 'STOP' needs a tag list (-t)");
  EXPECT_EQ(parse_error(t + "fields q9\nend\n").substr(0, 31), "in.txt:2: unknown field type 'q");
}

#if VD_RUN_TOOLS
TEST_F(CtTextTest, ToolsRoundTripAndReportErrors) {
  write("in.txt", kCanonical);
  std::string build = std::string(CTBUILD_EXE) + " -t " + path("tags.lst") + " " + path("in.txt") + " " + path("a.ct");
  ASSERT_EQ(std::system(build.c_str()), 0);
  std::string dump = std::string(CTDUMP_EXE) + " -t " + path("tags.lst") + " -l " + path("in.txt") + " " +
                     path("a.ct") + " > " + path("out.txt");
  ASSERT_EQ(std::system(dump.c_str()), 0);
  EXPECT_EQ(slurp("out.txt"), kCanonical);

  // Dump of a dump without layouts: bytes, and that round-trips too.
  ASSERT_EQ(std::system((std::string(CTDUMP_EXE) + " " + path("a.ct") + " > " + path("raw.txt")).c_str()), 0);
  ASSERT_EQ(std::system((std::string(CTBUILD_EXE) + " " + path("raw.txt") + " " + path("b.ct")).c_str()), 0);
  EXPECT_EQ(slurp("a.ct"), slurp("b.ct"));

  write("bad.txt", "table 1 \"T\"\nfields u8\nrecord 300\nend\n");
  std::string bad = std::string(CTBUILD_EXE) + " " + path("bad.txt") + " " + path("c.ct") + " 2> " + path("err.txt");
  EXPECT_NE(std::system(bad.c_str()), 0);
  EXPECT_NE(slurp("err.txt").find("bad.txt:3: value 1 (u8): '300'"), std::string::npos) << slurp("err.txt");
  EXPECT_FALSE(fs::exists(dir_ / "c.ct"));

  write("junk.ct", "XY nothing");
  std::string junk = std::string(CTDUMP_EXE) + " " + path("junk.ct") + " > " + path("j.txt") + " 2> " + path("err.txt");
  EXPECT_NE(std::system(junk.c_str()), 0);
  EXPECT_NE(slurp("err.txt").find("code 7"), std::string::npos) << slurp("err.txt");
}
#endif

}  // namespace
