// The rules of GetPrivateProfileStringA the settings reader relies on, on
// both sides.
#include "platform/profile.h"

#include <cstring>

#include "tests/unit/platform/contract_fixture.h"

namespace {

class ProfileContract : public contract::ScratchTest {
protected:
    std::string File() const { return (dir_ / "settings.ini").generic_string(); }
    // The text copied and the count returned, through a buffer of `size`.
    std::pair<std::string, win::DWORD> Get(const char* section, const char* key, const char* def = "dflt",
                                           win::DWORD size = 80) {
        char buffer[128];
        std::memset(buffer, 'X', sizeof buffer);
        win::DWORD n = win::GetPrivateProfileStringA(section, key, def, buffer, size, File().c_str());
        return {buffer, n};
    }
};

struct Lookup {
    const char* section;
    const char* key;
    const char* def;
    win::DWORD size;
    const char* text;  // what is copied
    win::DWORD count;  // what is returned
    const char* why;
};

TEST_F(ProfileContract, ValuesFollowTheFileRules) {
    EXPECT_EQ(Get("Debug", "DebugLevel", "7"), std::make_pair(std::string("7"), 1u)) << "no file: the default";
    std::string junk = std::string("\0\x01\xff\xfe[", 5) + std::string(5000, 'z');
    Write("settings.ini", "; comment line\r\nkey=before any section\r\n[Debug]\r\nDebugLevel = 3 \r\ndebuglevel=9\r\n"
                          "  Log2File\t=\t1\r\nQuoted=\"a b \"\r\nMixed=\"x'\r\n"
                          "Empty=\r\nLong=abcdefgh\r\n[ Task ]\r\nPollingMode=1\r\n[DEBUG]\r\nOther=2\r\n"
                          "[Broken\r\nx=1\r\n[]\r\n=novalue\r\n" +
                              junk + "\n[Good]\nv=" + std::string(300, 'q') + "\n");
    const Lookup reads[] = {
        {"debug", "DEBUGLEVEL", "d", 80, "3", 1, "names ignore case, the first match wins, blanks go"},
        {"Debug", "Log2File", "d", 80, "1", 1, "tabs are blanks"},
        {"Debug", "Quoted", "d", 80, "a b ", 4, "a pair of quotes goes, blanks inside stay"},
        {"Debug", "Mixed", "d", 80, "\"x'", 3, "quotes that do not pair stay"},
        {"Debug", "Empty", "d", 80, "", 0, "an empty value is not the default"},
        {"Debug", "Other", "d", 80, "d", 1, "only the first matching section counts"},
        {"task", "pollingmode", "d", 80, "1", 1, "blanks inside the brackets go"},
        {"Nothing", "key", "abc  ", 80, "abc", 3, "trailing blanks of the default go; keys before any section"},
        {"Debug", "Long", "", 4, "abc", 3, "a long value is cut at size-1"},
        {"Debug", "Long", "", 9, "abcdefgh", 8, "it just fits"},
        {"Broken", "x", "d", 80, "d", 1, "a header without its bracket starts no section"},
        {"Good", "v", "", 80, nullptr, 79, "after junk the file reads on"},
    };
    for (const Lookup& r : reads) {
        auto [text, n] = Get(r.section, r.key, r.def, r.size);
        EXPECT_EQ(text, r.text != nullptr ? r.text : std::string(79, 'q')) << r.why;
        EXPECT_EQ(n, r.count) << r.why;
    }
}

}  // namespace
