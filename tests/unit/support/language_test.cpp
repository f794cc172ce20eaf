#include "support/language.h"

#include <gtest/gtest.h>

#include <string>

#include "scratch_fixture.h"
#include "platform/codepage.h"

namespace {

using supporttest::ScratchTest;

class Language : public ScratchTest {};

TEST_F(Language, CurrentLanguageFromTheFirstLine) {
    EXPECT_EQ(lang_current(), nullptr);  // no root
    env_set("VDROOT", Path("root").c_str());
    EXPECT_EQ(lang_current(), nullptr);  // no file
    Write("root/install/vdlang.lst", "de followed by text\nfr\n");
    EXPECT_STREQ(lang_current(), "de");
    // VDPATH wins over VDROOT.
    env_set("VDPATH", Path("other").c_str());
    Write("other/install/vdlang.lst", "J\r\n");
    EXPECT_STREQ(lang_current(), "J");  // the line end is not part of it
    // An empty file reads nothing: the language stays as it was.
    Write("other/install/vdlang.lst", "");
    EXPECT_STREQ(lang_current(), "J");
}

TEST_F(Language, CodePageSettingsFromTheEnvironmentAndCaseConversion) {
    EXPECT_EQ(codepage_init(), -1);
    EXPECT_FALSE(codepage_settings().taken);
    // $VDCODEPAGE, double-byte, font.
    const struct { const char* value; bool dbcs; const char* font; } cases[] = {{"949", true, "Helv"}, {"932", true, "MINCHO"}, {"950x", true, "Helv"}, {"abc", false, "Helv"}};
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

    // Without double-byte handling only ASCII letters change case.
    char text[] = "Mixed Case_1 \xE9";
    EXPECT_STREQ(text_upper(text), "MIXED CASE_1 \xE9");
    EXPECT_STREQ(text_lower(text), "mixed case_1 \xE9");
}

// Double-byte operations need a double-byte ANSI code page: the simulated
// host takes 932 from its state file; a real Windows host keeps its own.
class DoubleByte : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        Write("codepages", "ACP=932\n");
        win::host::ReloadCodePages();
        if (win::GetACP() != 932) GTEST_SKIP() << "ANSI code page is not double-byte here";
    }
    void TearDown() override {
        Write("codepages", "");
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

}  // namespace
