// The rules of MultiByteToWideChar and WideCharToMultiByte the UTF-8
// conversions rely on, on both sides.
#include "platform/codepage.h"

#include "platform/error.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

TEST(CodePageContract, SizesFlagsAndReplacements) {
    // The count needed, then the buffer too small for it.
    EXPECT_EQ(win::MultiByteToWideChar(win::CP_UTF8, 0, "\xF0\x9F\x98\x80" "a", 5, nullptr, 0), 3);
    win::WCHAR wide[2];
    EXPECT_EQ(win::MultiByteToWideChar(win::CP_UTF8, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    // Invalid UTF-8: an error with MB_ERR_INVALID_CHARS, else U+FFFD.
    EXPECT_EQ(win::MultiByteToWideChar(win::CP_UTF8, win::MB_ERR_INVALID_CHARS, "a\xFF", 2, wide, 2), 0);
    EXPECT_EQ(win::GetLastError(), win::ERROR_NO_UNICODE_TRANSLATION);
    ASSERT_EQ(win::MultiByteToWideChar(win::CP_UTF8, 0, "a\xFF", 2, wide, 2), 2);
    EXPECT_EQ(wide[1], 0xFFFD);
    // For UTF-8 Windows refuses default-character arguments and the best-fit
    // flag; the simulated host does so too (wine does not): the UTF-8 tests
    // of support/utf8 show it there.
    const win::WCHAR euro_a[] = {0x20AC, u'a', 0x0100};
    char out[8];
    win::BOOL used = win::TRUE;
    // 1252: the euro sign is 0x80; U+0100 has no byte and sets the flag.
    ASSERT_EQ(win::WideCharToMultiByte(1252, win::WC_NO_BEST_FIT_CHARS, euro_a, 2, out, 8, nullptr, &used), 2);
    EXPECT_EQ(std::string(out, 2), "\x80" "a");
    EXPECT_EQ(used, win::FALSE);
    ASSERT_EQ(win::WideCharToMultiByte(1252, win::WC_NO_BEST_FIT_CHARS, euro_a + 1, 2, out, 8, "#", &used), 2);
    EXPECT_EQ(std::string(out, 2), "a#");
    EXPECT_EQ(used, win::TRUE);
}

}  // namespace
