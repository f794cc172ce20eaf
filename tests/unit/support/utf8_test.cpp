// Texts between the station's code page and UTF-8. The simulated host takes
// the ANSI code page from its state file; a Windows host keeps its own, and
// the cases of another code page are skipped there.
#include "support/utf8.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "scratch_fixture.h"

namespace {

class Utf8 : public supporttest::ScratchTest {
protected:
    void TearDown() override {
        Write("codepages", "");
        win::host::ReloadCodePages();
        ScratchTest::TearDown();
    }
    // False when this host's ANSI code page cannot be set to `page`.
    bool Use(int page) {
        Write("codepages", "ACP=" + std::to_string(page) + "\n");
        win::host::ReloadCodePages();
        return win::GetACP() == static_cast<win::UINT>(page);
    }
    static std::string In(std::string_view utf8) {
        std::string out = "untouched", reason;
        return Utf8ToCodePage(utf8, out, reason) ? out : "refused: " + reason + " / " + out;
    }
};

TEST_F(Utf8, Cp1252BothWaysWithItsUpperControlsRange) {
    if (!Use(1252)) GTEST_SKIP() << "ANSI code page is not 1252 here";
    EXPECT_EQ(CodePageToUtf8("l\xEDnea 3 \x80"), "l\xC3\xADnea 3 \xE2\x82\xAC");  // línea 3 €
    EXPECT_EQ(In("l\xC3\xADnea 3 \xE2\x82\xAC"), "l\xEDnea 3 \x80");
    EXPECT_EQ(In("\xC5\xBE\xC3\xBF"), "\x9E\xFF");  // ž ÿ: 0x80-0x9F and above differ
    EXPECT_EQ(CodePageToUtf8("\x81"), "\xC2\x81");  // undefined in 1252: the C1 control
    EXPECT_EQ(In("\xC2\x81"), "\x81");
    // Refused, the output left alone; what cannot be shown is named.
    EXPECT_EQ(In("a\xC4\x80"), "refused: holds a character the station's code page (1252) cannot show (U+0100) / untouched");
    EXPECT_EQ(In("\xF0\x9F\x98\x80"), "refused: holds a character the station's code page (1252) cannot show (U+1F600) / untouched");
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xFF"})
        EXPECT_EQ(In(bad), "refused: is not valid UTF-8 / untouched") << bad;
    EXPECT_EQ(Utf8ToCodePageShown("\xC3\xA9\xE6\x97\xA5\xFFz"), "\xE9??z");
}

TEST_F(Utf8, OtherCodePages) {
    if (!Use(437)) GTEST_SKIP() << "ANSI code page cannot be 437 here";
    EXPECT_EQ(In("\xC3\xA9\xC3\x87"), "\x82\x80");  // é Ç
    EXPECT_EQ(CodePageToUtf8("\x82\x80"), "\xC3\xA9\xC3\x87");
    ASSERT_TRUE(Use(65001));
    EXPECT_EQ(In("\xF0\x9F\x98\x80\xC3\xA9"), "\xF0\x9F\x98\x80\xC3\xA9");
    EXPECT_EQ(In("\xC0\xAF"), "refused: is not valid UTF-8 / untouched");
    EXPECT_EQ(CodePageToUtf8("a\xFF\xC3\xA9"), "a\xEF\xBF\xBD\xC3\xA9");
}

}  // namespace
