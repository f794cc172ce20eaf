// The rules of MultiByteToWideChar and WideCharToMultiByte the UTF-8
// conversions rely on, on both sides.
#include "platform/codepage.h"

#include "platform/error.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

TEST(CodePageContract, Utf8SizesFlagsAndReplacements) {
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
    // WideCharToMultiByte (1252's upper range, the replacement flag, and
    // for UTF-8 no default-character arguments): the tests of support/utf8,
    // which the simulated host and Windows pass alike.
}

}  // namespace
