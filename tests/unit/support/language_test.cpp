#include "support/language.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "scratch_fixture.h"
#include "platform/codepage.h"

namespace {

using supporttest::ScratchTest;

class Language : public ScratchTest {};

TEST_F(Language, CurrentLanguageFromTheFirstLineAndSetWritesTwoUpperCaseCharacters) {
    EXPECT_EQ(lang_current(), nullptr);  // no root
    EXPECT_EQ(lang_set("de"), -1);
    env_set("VDROOT", Path("root").c_str());
    EXPECT_EQ(lang_current(), nullptr);  // no file
    EXPECT_EQ(lang_set("de"), -1);       // directory absent
    Write("root/install/vdlang.lst", "de followed by text\nfr\n");
    EXPECT_STREQ(lang_current(), "de");
    // VDPATH wins over VDROOT.
    env_set("VDPATH", Path("other").c_str());
    Write("other/install/vdlang.lst", "J\r\n");
    EXPECT_STREQ(lang_current(), "J");  // the line end is not part of it
    // An empty file reads nothing: the language stays as it was.
    Write("other/install/vdlang.lst", "");
    EXPECT_STREQ(lang_current(), "J");
    for (const auto& [code, written] : {std::pair<const char*, std::string>{"french", "FR"}, {"e", "E"}, {nullptr, ""}}) {
        EXPECT_EQ(lang_set(code), 0);
        EXPECT_EQ(Read("other/install/vdlang.lst"), written);
    }
}

TEST_F(Language, InstalledLanguagesAreTheDirectoriesUnderDll) {
    int count = -1;
    EXPECT_EQ(lang_list(&count), nullptr);
    EXPECT_EQ(count, 0);
    env_set("VDROOT", Path("root").c_str());
    for (const char* name : {"de", "en", ".cache"}) std::filesystem::create_directories(dir_ / "root" / "DLL" / name);
    Write("root/DLL/readme.txt", "not a language");
    char** list = lang_list(&count);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(count, 2);
    std::vector<std::string> names(list, list + count);
    EXPECT_EQ(list[count], nullptr);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"DE", "EN"}));
    // A second listing replaces the first; no count asked.
    EXPECT_NE(lang_list(nullptr), nullptr);
}

TEST_F(Language, CodePageCheckOfALanguage) {
    EXPECT_EQ(lang_codepage_ok("en"), 0);
    EXPECT_EQ(lang_codepage_ok("JA"), 1);  // no catalog text
    EXPECT_EQ(lang_codepage_ok(nullptr), 1);
    std::string acp = std::to_string(win::GetACP());
    ASSERT_EQ(msg_insert(msg_root_slot(), "JA_CODEPAGES", "99999"), 1);
    EXPECT_EQ(lang_codepage_ok("ja"), 1);
    // Found anywhere in the text, also after a partial match.
    ASSERT_EQ(msg_insert(msg_root_slot(), "JA_CODEPAGES", ("932," + acp.substr(0, 1) + "x" + acp).c_str()), 0);
    EXPECT_EQ(lang_codepage_ok("ja"), 0);
}

TEST_F(Language, CodePageSettingsFromTheEnvironment) {
    int cp = -1;
    EXPECT_EQ(codepage_get(&cp), -1);
    EXPECT_EQ(codepage_init(), -1);
    EXPECT_FALSE(codepage_settings().taken);
    // $VDCODEPAGE: double-byte, font.
    const struct {
        const char* value;
        bool dbcs;
        const char* font;
    } cases[] = {{"949", true, "Helv"}, {"932", true, "MINCHO"}, {"950x", true, "Helv"}, {"abc", false, "Helv"}};
    for (const auto& c : cases) {
        codepage_reset();
        env_set("VDCODEPAGE", c.value);
        EXPECT_EQ(codepage_init(), 0) << c.value;
        EXPECT_EQ(codepage_settings().dbcs, c.dbcs) << c.value;
        EXPECT_STREQ(codepage_settings().font_name, c.font) << c.value;
    }
    // Taken once: a changed variable is not read again.
    env_set("VDCODEPAGE", "932");
    EXPECT_EQ(codepage_init(), 0);
    EXPECT_STREQ(codepage_settings().font_name, "Helv");

    // The font alone: chosen by the page, the settings not taken.
    codepage_reset();
    EXPECT_EQ(codepage_font(), 0);
    EXPECT_STREQ(codepage_settings().font_name, "MINCHO");
    EXPECT_EQ(codepage_settings().code_page, 932);
    EXPECT_FALSE(codepage_settings().taken);
}

TEST_F(Language, CaseConversionWithoutDoubleByteHandling) {
    char text[] = "Mixed Case_1 \xE9";
    EXPECT_STREQ(text_upper(text), "MIXED CASE_1 \xE9");
    EXPECT_STREQ(text_lower(text), "mixed case_1 \xE9");
    EXPECT_EQ(text_upper(nullptr), nullptr);
}

// Double-byte operations need a double-byte ANSI code page: the simulated
// host takes 932 from its state file; a real Windows host keeps its own.
class DoubleByte : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        Write(".host/codepages", "ACP=932\n");
        win::host::ReloadCodePages();
        if (win::GetACP() != 932) GTEST_SKIP() << "ANSI code page is not double-byte here";
    }
    void TearDown() override {
        Write(".host/codepages", "");
        win::host::ReloadCodePages();
        ScratchTest::TearDown();
    }
};

TEST_F(DoubleByte, CaseConversionKeepsTrailBytes) {
    env_set("VDCODEPAGE", "932");
    ASSERT_EQ(codepage_init(), 0);
    char text[] = "ab\x82" "a" "cd\x81";  // trail byte "a"; a lead byte at the end
    EXPECT_STREQ(text_upper(text), "AB\x82" "a" "CD\x81");
    codepage_settings().dbcs = false;
    EXPECT_STREQ(text_upper(text), "AB\x82" "A" "CD\x81");
}

TEST_F(DoubleByte, CharacterLengthAndPreviousCharacter) {
    EXPECT_EQ(dbcs_char_length("\x82" "a"), 2);
    EXPECT_EQ(dbcs_char_length("\x82"), 1);  // no trail byte: never past the end
    EXPECT_EQ(dbcs_char_length(""), 1);

    const char* s = "a\x82" "bc";
    EXPECT_EQ(dbcs_previous(s, s), s);
    EXPECT_EQ(dbcs_previous(s, s + 1), s);
    EXPECT_EQ(dbcs_previous(s, s + 3), s + 1);  // the pair \x82 b
    EXPECT_EQ(dbcs_previous_length(s, s + 3), 2);
    EXPECT_EQ(dbcs_previous_length(s, s + 4), 1);

    // Trail bytes in the lead range: count the run of lead bytes.
    const char* t = "x\x81\x81\x81" "A";  // x, pair 81 81, pair 81 A
    EXPECT_EQ(dbcs_previous(t, t + 5), t + 3);
    EXPECT_EQ(dbcs_previous(t, t + 4), t + 2);  // byte before is a lead: position - 2
    const char* u = "\x81\x81" "A";  // pair at the start, then A
    EXPECT_EQ(dbcs_previous(u, u + 3), u + 2);
}

}  // namespace
