#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/handle.h"

namespace {

// The simulated host maps drives and devices through its state directory;
// Windows has its own drives and no such directory.
bool SimulatedHost() { return std::filesystem::path::preferred_separator == '/'; }

class PlatformFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() / ("vdpf_" + std::to_string(rd()));
        std::filesystem::create_directories(dir_ / "state");
        win::SetEnvironmentVariableA("VDHOST", (dir_ / "state").generic_string().c_str());
    }
    void TearDown() override {
        win::SetEnvironmentVariableA("VDHOST", nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // Windows form of a scratch path.
    std::string Win(const std::string& relative = "") const {
        std::string p = (dir_ / relative).string();
        for (char& c : p) {
            if (c == '/') c = '\\';
        }
        return p;
    }
    void WriteState(const std::string& relative, const std::string& content) const {
        std::filesystem::create_directories((dir_ / "state" / relative).parent_path());
        std::ofstream(dir_ / "state" / relative) << content;
    }
    std::filesystem::path dir_;
};

TEST_F(PlatformFilesTest, FileReadWriteAndErrors) {
    std::string path = Win("f.bin");
    win::HANDLE h = win::CreateFileA(path.c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_NEW,
                                     win::FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    win::DWORD done = 0;
    EXPECT_TRUE(win::WriteFile(h, "hello", 5, &done, nullptr));
    EXPECT_EQ(done, 5u);
    win::CloseHandle(h);

    EXPECT_EQ(win::CreateFileA(path.c_str(), win::GENERIC_WRITE, 0, nullptr, win::CREATE_NEW, 0, nullptr),
              win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_EXISTS);

    h = win::CreateFileA(path.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ, nullptr, win::OPEN_EXISTING, 0,
                         nullptr);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    char buffer[16] = {};
    EXPECT_TRUE(win::ReadFile(h, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 5u);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_TRUE(win::ReadFile(h, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 0u);  // end of file
    win::CloseHandle(h);

    EXPECT_EQ(win::GetFileAttributesA(path.c_str()) & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(win::DeleteFileA(path.c_str()));
    EXPECT_FALSE(win::DeleteFileA(path.c_str()));
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(win::GetFileAttributesA(path.c_str()), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(win::CreateFileA(Win("none\\f").c_str(), win::GENERIC_READ, 0, nullptr, win::OPEN_EXISTING, 0,
                               nullptr),
              win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
}

TEST_F(PlatformFilesTest, DirectoriesAndFind) {
    std::string d = Win("d");
    EXPECT_TRUE(win::CreateDirectoryA(d.c_str(), nullptr));
    EXPECT_FALSE(win::CreateDirectoryA(d.c_str(), nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(win::CreateDirectoryA(Win("x\\y").c_str(), nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_NE(win::GetFileAttributesA(d.c_str()) & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
    std::ofstream(dir_ / "d" / "one.txt") << "1";
    std::ofstream(dir_ / "d" / "two.TXT") << "22";
    std::ofstream(dir_ / "d" / "three.log") << "333";

    win::WIN32_FIND_DATAA data{};
    win::HANDLE find = win::FindFirstFileA((d + "\\*.txt").c_str(), &data);
    ASSERT_NE(find, win::INVALID_HANDLE_VALUE);
    int count = 0;
    do {
        ++count;
        std::string name = data.cFileName;
        EXPECT_TRUE(name == "one.txt" || name == "two.TXT") << name;
    } while (win::FindNextFileA(find, &data));
    EXPECT_EQ(win::GetLastError(), win::ERROR_NO_MORE_FILES);
    EXPECT_TRUE(win::FindClose(find));
    EXPECT_EQ(count, 2);  // wildcards match case-insensitively

    EXPECT_EQ(win::FindFirstFileA((d + "\\*.none").c_str(), &data), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);

    EXPECT_FALSE(win::RemoveDirectoryA(d.c_str()));  // not empty
    for (const char* n : {"one.txt", "two.TXT", "three.log"}) std::filesystem::remove(dir_ / "d" / n);
    EXPECT_TRUE(win::RemoveDirectoryA(d.c_str()));
}

TEST(PlatformTime, FileTimeToSystemTime) {
    // 2006-03-05 14:07:09 UTC.
    win::FILETIME ft{392258688u, 29769822u};
    win::SYSTEMTIME st{};
    ASSERT_TRUE(win::FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, 2006);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 5);
    EXPECT_EQ(st.wDayOfWeek, 0);  // a Sunday
    EXPECT_EQ(st.wHour, 14);
    EXPECT_EQ(st.wMinute, 7);
    EXPECT_EQ(st.wSecond, 9);
    win::FILETIME too_late{0xFFFFFFFFu, 0xFFFFFFFFu};
    EXPECT_FALSE(win::FileTimeToSystemTime(&too_late, &st));
}

TEST(PlatformEnvironment, SizesAndMissingVariables) {
    ASSERT_TRUE(win::SetEnvironmentVariableA("VDT_PF", "abcdef"));
    char buffer[8];
    EXPECT_EQ(win::GetEnvironmentVariableA("VDT_PF", buffer, sizeof buffer), 6u);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(win::GetEnvironmentVariableA("VDT_PF", buffer, 6), 7u);  // size needed
    EXPECT_EQ(win::GetEnvironmentVariableA("VDT_PF", nullptr, 0), 7u);
    ASSERT_TRUE(win::SetEnvironmentVariableA("VDT_PF", nullptr));
    win::SetLastError(0);
    EXPECT_EQ(win::GetEnvironmentVariableA("VDT_PF", buffer, sizeof buffer), 0u);
    EXPECT_EQ(win::GetLastError(), win::ERROR_ENVVAR_NOT_FOUND);
}

TEST_F(PlatformFilesTest, DrivesMapToHostDirectories) {
    if (!SimulatedHost()) GTEST_SKIP() << "drive mapping belongs to the simulated host";
    EXPECT_EQ(win::GetLogicalDrives(), 1u << 2);  // C: only
    std::filesystem::create_directories(dir_ / "ddrive");
    WriteState("drives.txt", "# mapped drives\n\nD: " + (dir_ / "ddrive").string() + "/\n  x: /nowhere\nbad line\n");
    EXPECT_EQ(win::GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 23));

    win::HANDLE h = win::CreateFileA("d:\\note.txt", win::GENERIC_WRITE, 0, nullptr, win::CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    win::CloseHandle(h);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "ddrive" / "note.txt"));
    EXPECT_TRUE(win::CreateDirectoryA("D:\\sub", nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "ddrive" / "sub"));
    EXPECT_NE(win::GetFileAttributesA("D:\\") & win::FILE_ATTRIBUTE_DIRECTORY, 0u);

    EXPECT_EQ(win::CreateFileA("Q:\\f", win::GENERIC_READ, 0, nullptr, win::OPEN_EXISTING, 0, nullptr),
              win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(win::GetFileAttributesA("\\\\server\\share"), win::INVALID_FILE_ATTRIBUTES);

    // C: moved elsewhere: rooted paths without a drive follow it.
    std::filesystem::create_directories(dir_ / "cdrive");
    WriteState("drives.txt", "C: " + (dir_ / "cdrive").string() + "\n");
    h = win::CreateFileA("\\rooted.txt", win::GENERIC_WRITE, 0, nullptr, win::CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    win::CloseHandle(h);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "cdrive" / "rooted.txt"));
}

TEST_F(PlatformFilesTest, DevicesExistOnlyWhenTheStateProvidesThem) {
    if (!SimulatedHost()) GTEST_SKIP() << "device markers belong to the simulated host";
    win::HANDLE h = win::CreateFileA("\\\\.\\KbFilter", win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                                     win::OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h, win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    for (const char* bad : {"\\\\.\\..", "\\\\.\\a\\b"}) {
        EXPECT_EQ(win::CreateFileA(bad, win::GENERIC_READ, 0, nullptr, win::OPEN_EXISTING, 0, nullptr),
                  win::INVALID_HANDLE_VALUE)
            << bad;
    }

    WriteState("devices/KbFilter", "");
    h = win::CreateFileA("\\\\.\\KbFilter", win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr, win::OPEN_EXISTING,
                         0, nullptr);
    ASSERT_NE(h, win::INVALID_HANDLE_VALUE);
    EXPECT_TRUE(win::CloseHandle(h));
}

}  // namespace
