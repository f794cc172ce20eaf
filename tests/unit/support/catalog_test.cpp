#include "support/catalog.h"

#include <gtest/gtest.h>

#include <string>

#include "scratch_fixture.h"

namespace {

using supporttest::ScratchTest;

// Parses one line; "" key when the line holds no entry.
std::pair<std::string, std::string> Parse(std::string line) {
    char* key = nullptr;
    char* text = nullptr;
    if (msg_parse_line(line.data(), &key, &text) == 0) return {"", ""};
    return {key, text};
}

using Entry = std::pair<std::string, std::string>;

TEST(CatalogLine, KeysSeparatorsQuotesCommentsAndEscapes) {
    const struct { const char* line; Entry want; } cases[] = {
        {"  START | |  \"  running  task  \"  ignored", {"START", "  running  task  "}},
        {"RUN running  ", {"RUN", "running"}},
        {"RUN\t\trunning\there\t", {"RUN", "running here"}},
        {"K \"open text   ", {"K", "open text"}},  // an unclosed quote runs to the end, without trailing spaces
        {"K \"\"", {"K", ""}},
        {"K \"a\\\"b\"", {"K", "a\\"}},  // a backslash does not protect a quote
        {"K text\r\n", {"K", "text"}},
        {"# START comment", {"", ""}},
        {"* START comment", {"", ""}},
        {" #KEY text", {"#KEY", "text"}},  // indented, the marker starts a key
        {"   \t ", {"", ""}},
        {"LONELY", {"", ""}},
        {"LONELY | |  ", {"", ""}},
        {"| text", {"", ""}},  // a separator where the key should be
        {"K a\\\\b", {"K", "a\\b"}},
        {"K a\\qb", {"K", "a\\qb"}},
        {"K \\a\\b\\n\\r\\t", {"K", "\a\b\n\r\t"}},
        {"K end\\", {"K", "end\\"}},
        {"K \\\\n", {"K", "\\n"}},  // a backslash then "n", not a newline
        {"K \"%s\\n\"", {"K", "%s\n"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.line), c.want) << c.line;
}

TEST(CatalogText, LaterLinesOverrideAndLongLinesAreCutSafely) {
    MsgNode* tree = nullptr;
    std::string text = "START one\nstart two\n# START three\nRUN \"r\"\n\nSTOP";
    EXPECT_EQ(msg_load_text(&tree, text.data(), text.size()), 2);  // STOP alone adds nothing
    EXPECT_STREQ(msg_lookup_in(tree, "Start"), "two");
    EXPECT_STREQ(msg_lookup_in(tree, "run"), "r");

    // A line far longer than the line limit: its first kMsgLineMax
    // characters make the entry, the tail is not taken as entries.
    std::string tail;
    for (int i = 0; i < 300; ++i) tail += " FAKE" + std::to_string(i) + " x";
    std::string longline = "LONG " + std::string(kMsgLineMax, 'a') + tail + "\nAFTER ok\n";
    EXPECT_EQ(msg_load_text(&tree, longline.data(), longline.size()), 2);
    EXPECT_EQ(std::string(msg_lookup_in(tree, "LONG")), std::string(kMsgLineMax - 5, 'a'));
    EXPECT_STREQ(msg_lookup_in(tree, "AFTER"), "ok");
    EXPECT_EQ(msg_count(tree), 4);

    // A line of exactly the limit is whole; no line end at the end of data.
    std::string exact = "EXACT " + std::string(kMsgLineMax - 7, 'b') + "c";
    EXPECT_EQ(msg_load_text(&tree, exact.data(), exact.size()), 1);
    EXPECT_EQ(std::string(msg_lookup_in(tree, "EXACT")), std::string(kMsgLineMax - 7, 'b') + "c");

    // Embedded NUL ends the line's text; nothing reads past the data.
    std::string nul("NUL ab\0cd\nNEXT n", 16);
    EXPECT_EQ(msg_load_text(&tree, nul.data(), nul.size()), 2);
    EXPECT_STREQ(msg_lookup_in(tree, "NUL"), "ab");
    msg_free(tree);
}

TEST(CatalogTranslation, OemTablesFollowThePublishedCodePagesAndMapTextsOnly) {
    ASSERT_NE(msg_oem_table(437), nullptr);
    ASSERT_NE(msg_oem_table(850), nullptr);
    EXPECT_EQ(msg_oem_table(1252), nullptr);
    // Characters both pages have, ones only 850 has, and what stands in for
    // a missing one (the base letter, or "~").
    const struct { unsigned page; int ansi, oem; } cases[] = {
        {437, 0xC4, 0x8E}, {437, 0xDF, 0xE1}, {850, 0xE9, 0x82}, {437, 0xA0, 0xFF}, {850, 0xD8, 0x9D},
        {850, 0xC0, 0xB7}, {437, 0xC0, 'A'},  {437, 0xE3, 'a'},  {437, 0x80, '~'},  {850, 0x81, '~'},
    };
    for (const auto& c : cases) EXPECT_EQ(msg_oem_table(c.page)[c.ansi], c.oem) << c.page << " " << std::hex << c.ansi;

    // The active table maps texts, not keys.
    ASSERT_EQ(msg_set_translation(850), 0);
    ASSERT_NE(msg_translation(), nullptr);
    EXPECT_EQ(Parse("K\xE9 caf\xE9"), Entry("K\xE9", "caf\x82"));
    EXPECT_EQ(msg_set_translation(1252), -1);
    EXPECT_EQ(msg_translation(), nullptr);
    EXPECT_EQ(Parse("K caf\xE9"), Entry("K", "caf\xE9"));
}

class CatalogFiles : public ScratchTest {};

// Without $VDPATH the catalogs are searched under $VDROOT.
TEST_F(CatalogFiles, TaskCatalogOverridesMasterAndMissingFilesAddNothing) {
    env_set("VDROOT", Path("root").c_str());
    EXPECT_EQ(msg_init("VDWINUT.txt"), -1);
    EXPECT_EQ(msg_root(), nullptr);
    // Only "master" missing: the task's count alone.
    Write("root/msg/en/vdwinut.txt", "Start task start\nSYSINFWRITE write %s\n");
    EXPECT_EQ(msg_init("VDWINUT.txt"), 2);
    Write("root/msg/en/master.txt", "START master start\nCTINDEX index %d\n");
    EXPECT_EQ(msg_init("VDWINUT.txt"), 3);  // 2 + 1 new
    EXPECT_STREQ(msg_lookup("START"), "task start");
    EXPECT_STREQ(msg_lookup("ctindex"), "index %d");
    EXPECT_STREQ(msg_lookup("SYSINFWRITE"), "write %s");
    EXPECT_EQ(msg_load("nosuch"), -1);
    EXPECT_EQ(msg_count(msg_root()), 3);
}

TEST_F(CatalogFiles, LanguageFileChoosesTheDirectoryAndAFullPathIsTakenAsItIs) {
    env_set("VDPATH", Path("root").c_str());
    Write("root/install/vdlang.lst", "de and more\nEN\n");
    Write("root/msg/de/cat.txt", "LANG deutsch\n");
    Write("root/msg/en/cat.txt", "LANG english\n");
    Write("root/msg/cat.txt", "LANG none\n");
    MsgNode* tree = nullptr;
    EXPECT_EQ(msg_load_into(&tree, "Cat", nullptr), 1);
    EXPECT_STREQ(msg_lookup_in(tree, "LANG"), "deutsch");
    EXPECT_EQ(msg_load_into(&tree, "Cat", "EN"), 0);
    EXPECT_STREQ(msg_lookup_in(tree, "LANG"), "english");
    EXPECT_EQ(msg_load_into(&tree, "Cat", ""), 0);
    EXPECT_STREQ(msg_lookup_in(tree, "LANG"), "none");

    // A full path is taken as it is, with the extension ".txt".
    Write("elsewhere/Cat.txt", "LANG elsewhere\n");
    EXPECT_EQ(msg_load_into(&tree, (Path("elsewhere") + "/Cat.msg").c_str(), nullptr), 0);
    EXPECT_STREQ(msg_lookup_in(tree, "LANG"), "elsewhere");
    // A path that does not fit the caller's buffer is refused, never cut.
    char tiny[8];
    EXPECT_EQ(msg_find_file((Path("elsewhere") + "/Cat").c_str(), nullptr, tiny, sizeof tiny), nullptr);
    msg_free(tree);
}

}  // namespace
