#include "platform/profile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A settings file of its own per test, removed afterwards.
class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("vdprofile_" + std::to_string(counter++) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini");
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string File() const { return path_.generic_string(); }

    // The value and the count the call returns.
    std::string Get(const char* section, const char* key, const char* def = "dflt", win::DWORD size = 80,
                    win::DWORD* count = nullptr) {
        char buffer[128];
        std::memset(buffer, 'X', sizeof buffer);
        win::DWORD n = win::GetPrivateProfileStringA(section, key, def, buffer, size, File().c_str());
        if (count != nullptr) *count = n;
        return std::string(buffer, std::strlen(buffer));
    }

    std::filesystem::path path_;
};

TEST_F(ProfileTest, NamesIgnoreCaseFirstMatchWinsAndBlanksAndQuotesGo) {
    Write("; comment line\r\n"
          "[Debug]\r\n"
          "DebugLevel = 3 \r\n"
          "debuglevel=9\r\n"
          "  Log2File\t=\t1\r\n"
          "Quoted=\"a b \"\r\n"
          "Single='x'\r\n"
          "Mixed=\"x'\r\n"
          "Inner=a \"b\" c\r\n"
          "Empty=\r\n"
          "[ Task ]\r\n"
          "PollingMode=1\r\n"
          "[DEBUG]\r\n"
          "Other=2\r\n");
    win::DWORD n = 0;
    EXPECT_EQ(Get("debug", "DEBUGLEVEL", "dflt", 80, &n), "3");
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(Get("Debug", "Log2File"), "1");
    EXPECT_EQ(Get("Debug", "Quoted"), "a b ") << "quotes around the whole value are dropped, blanks inside stay";
    EXPECT_EQ(Get("Debug", "Single"), "x");
    EXPECT_EQ(Get("Debug", "Mixed"), "\"x'") << "quotes that do not pair stay";
    EXPECT_EQ(Get("Debug", "Inner"), "a \"b\" c");
    EXPECT_EQ(Get("Debug", "Empty", "dflt", 80, &n), "");
    EXPECT_EQ(n, 0u) << "an empty value is a value of no characters, not the default";
    EXPECT_EQ(Get("task", "pollingmode"), "1") << "blanks inside the brackets are dropped";
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    win::DWORD n = 0;
    EXPECT_EQ(Get("Debug", "DebugLevel", "7", 80, &n), "7") << "no file";
    EXPECT_EQ(n, 1u);
    Write("[Debug]\nDebugLevel=3\n");
    EXPECT_EQ(Get("Nothing", "DebugLevel", "abc  ", 80, &n), "abc") << "trailing blanks of the default go";
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(Get("Debug", "Missing", nullptr, 80, &n), "") << "null default is empty";
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(win::GetPrivateProfileIntA("Debug", "DebugLevel", 5, File().c_str()), 3u);
    EXPECT_EQ(win::GetPrivateProfileIntA("Debug", "Missing", 5, File().c_str()), 5u);
}

TEST_F(ProfileTest, LongValuesAreCutAtSizeLessOne) {
    Write("[S]\nK=abcdefgh\n");
    win::DWORD n = 0;
    EXPECT_EQ(Get("S", "K", "", 4, &n), "abc");
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(Get("S", "K", "", 9, &n), "abcdefgh");
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(Get("S", "missing", "defaultlong", 5, &n), "defa");
    EXPECT_EQ(n, 4u);

    char buffer[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(win::GetPrivateProfileStringA("S", "K", "", buffer, 0, File().c_str()), 0u);
    EXPECT_EQ(buffer[0], 'X') << "size 0 writes nothing";
}

TEST_F(ProfileTest, ListsOfSectionsAndKeysEndInTwoZerosEvenWhenCut) {
    Write("[One]\na=1\nbb=2\n[Two]\nc=3\n");
    char buffer[32];
    std::memset(buffer, 'X', sizeof buffer);
    win::DWORD n = win::GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, File().c_str());
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(std::string(buffer, 9), std::string("One\0Two\0\0", 9));

    std::memset(buffer, 'X', sizeof buffer);
    n = win::GetPrivateProfileStringA("one", nullptr, "", buffer, sizeof buffer, File().c_str());
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::string(buffer, 6), std::string("a\0bb\0\0", 6));

    std::memset(buffer, 'X', sizeof buffer);
    n = win::GetPrivateProfileStringA("One", nullptr, "", buffer, 4, File().c_str());
    EXPECT_EQ(n, 2u) << "a list that does not fit gives size-2";
    EXPECT_EQ(buffer[0], 'a');
    EXPECT_EQ(buffer[1], '\0');
    EXPECT_EQ(buffer[2], '\0') << "and still ends in two zeros";
}

TEST_F(ProfileTest, IntegersTakeTheLeadingNumber) {
    Write("[N]\nplain=42\nlead=  17abc\nneg=-5\nword=yes\nempty=\n");
    const std::string f = File();
    EXPECT_EQ(win::GetPrivateProfileIntA("N", "plain", 0, f.c_str()), 42u);
    EXPECT_EQ(win::GetPrivateProfileIntA("N", "lead", 0, f.c_str()), 17u);
    EXPECT_EQ(static_cast<win::INT>(win::GetPrivateProfileIntA("N", "neg", 0, f.c_str())), -5);
    EXPECT_EQ(win::GetPrivateProfileIntA("N", "word", 9, f.c_str()), 0u);
    EXPECT_EQ(win::GetPrivateProfileIntA("N", "empty", 9, f.c_str()), 9u);
}

TEST_F(ProfileTest, MalformedFilesReadSafely) {
    std::string junk = "key=before any section\n[Broken\nx=1\n[]\n=novalue\n";
    junk += std::string("\0\x01\xff\xfe[", 5);
    junk += std::string(5000, 'z');
    junk += "\n[Good]\nv=";
    junk += std::string(300, 'q');
    junk += "\n";
    Write(junk);
    EXPECT_EQ(Get("Nowhere", "key"), "dflt");
    EXPECT_EQ(Get("Broken", "x"), "dflt") << "a header without its closing bracket starts no section";
    win::DWORD n = 0;
    EXPECT_EQ(Get("Good", "v", "", 80, &n), std::string(79, 'q'));
    EXPECT_EQ(n, 79u);
}

}  // namespace
