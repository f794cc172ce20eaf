// Files, directories, drives and devices, handles, disk space and the
// process environment, on both sides.
#include "platform/files.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "platform/device.h"
#include "platform/disk.h"
#include "platform/error.h"
#include "platform/handle.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;

class FilesContract : public contract::ScratchTest {
protected:
    HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
        return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // The call failed with `error`.
    static void Failed(bool failed, DWORD error, const char* what) {
        EXPECT_TRUE(failed) << what;
        EXPECT_EQ(GetLastError(), error) << what;
    }
};

TEST_F(FilesContract, FilesReadWriteAndFail) {
    const std::string path = Win("f.bin");
    HANDLE h = Open(path, GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(h, "hello", 5, &done, nullptr));
    EXPECT_EQ(done, 5u);
    EXPECT_TRUE(CloseHandle(h));
    Failed(Open(path, GENERIC_WRITE, CREATE_NEW) == INVALID_HANDLE_VALUE, ERROR_FILE_EXISTS, "create new");

    h = Open(path, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[16] = {};
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "hello");
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 0u) << "end of file";
    CloseHandle(h);

    EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    Failed(!DeleteFileA(path.c_str()), ERROR_FILE_NOT_FOUND, "delete twice");
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    Failed(Open(Win("none\\f"), GENERIC_READ, OPEN_EXISTING) == INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND,
           "missing folder");
}

TEST_F(FilesContract, DirectoriesAndWildcards) {
    const std::string d = Win("d");
    EXPECT_TRUE(CreateDirectoryA(d.c_str(), nullptr));
    Failed(!CreateDirectoryA(d.c_str(), nullptr), ERROR_ALREADY_EXISTS, "exists");
    Failed(!CreateDirectoryA(Win("x\\y").c_str(), nullptr), ERROR_PATH_NOT_FOUND, "no parent");
    EXPECT_NE(GetFileAttributesA(d.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    for (const char* name : {"d/one.txt", "d/two.TXT", "d/three.log"}) Write(name, name);

    WIN32_FIND_DATAA data{};
    HANDLE find = FindFirstFileA((d + "\\*.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(find));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "two.TXT"})) << "wildcards ignore case";
    Failed(FindFirstFileA((d + "\\*.none").c_str(), &data) == INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND, "none");

    EXPECT_FALSE(RemoveDirectoryA(d.c_str())) << "not empty";
    std::filesystem::remove_all(dir_ / "d");
    std::filesystem::create_directory(dir_ / "d");
    EXPECT_TRUE(RemoveDirectoryA(d.c_str()));
}

TEST(TimeContract, FileTimeToCalendar) {
    const FILETIME ft{392258688u, 29769822u};  // 2006-03-05 14:07:09 UTC, a Sunday
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    const WORD want[] = {2006, 3, 0, 5, 14, 7, 9};
    const WORD got[] = {st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond};
    EXPECT_TRUE(std::equal(std::begin(want), std::end(want), std::begin(got)));
    const FILETIME too_late{0xFFFFFFFFu, 0xFFFFFFFFu};
    EXPECT_FALSE(FileTimeToSystemTime(&too_late, &st));
}

TEST(EnvironmentContract, SizesAndMissingVariables) {
    ASSERT_TRUE(SetEnvironmentVariableA("VDT_PF", "abcdef"));
    char buffer[8];
    EXPECT_EQ(GetEnvironmentVariableA("VDT_PF", buffer, sizeof buffer), 6u);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(GetEnvironmentVariableA("VDT_PF", buffer, 6), 7u) << "too small: the size needed";
    EXPECT_EQ(GetEnvironmentVariableA("VDT_PF", nullptr, 0), 7u);
    ASSERT_TRUE(SetEnvironmentVariableA("VDT_PF", nullptr));
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableA("VDT_PF", buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

TEST_F(FilesContract, DevicesAndDiskSpace) {
    Failed(Open("\\\\.\\VdNoSuchDevice", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING) == INVALID_HANDLE_VALUE,
           ERROR_FILE_NOT_FOUND, "no such device");
    DWORD returned = 99;
    Failed(!DeviceIoControl(nullptr, CTL_CODE(0x22, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS), nullptr,
                            0, nullptr, 0, &returned, nullptr),
           ERROR_INVALID_HANDLE, "not a device");
    Failed(!CloseHandle(nullptr), ERROR_INVALID_HANDLE, "close nothing");

    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &available, &total, &free));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(available.QuadPart, free.QuadPart);
    EXPECT_LE(free.QuadPart, total.QuadPart);
    EXPECT_TRUE(GetDiskFreeSpaceExA("C:\\", nullptr, &total, nullptr)) << "each output may be null";
}

// The simulated host maps drive letters, devices and disk figures through
// its state directory.
TEST_F(FilesContract, HostStateMapsDrivesDevicesAndDisks) {
    if (!contract::kSimulatedHost) GTEST_SKIP() << "the state directory of the simulated host";
    EXPECT_EQ(GetLogicalDrives(), 1u << 2) << "C: only";
    std::filesystem::create_directories(dir_ / "ddrive");
    Write("drives.txt", "# mapped drives\n\nD: " + (dir_ / "ddrive").string() + "/\n  x: /nowhere\nbad line\n");
    EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 23));
    HANDLE h = Open("d:\\note.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "ddrive" / "note.txt"));
    EXPECT_TRUE(CreateDirectoryA("D:\\sub", nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "ddrive" / "sub"));
    EXPECT_NE(GetFileAttributesA("D:\\") & FILE_ATTRIBUTE_DIRECTORY, 0u);
    ULARGE_INTEGER a{}, t{}, f{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("D:\\", &a, &t, &f)) << "a mapped drive: the figures of its directory";
    EXPECT_GT(t.QuadPart, 0u);
    Failed(Open("Q:\\f", GENERIC_READ, OPEN_EXISTING) == INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND, "no drive");
    EXPECT_EQ(GetFileAttributesA("\\\\server\\share"), INVALID_FILE_ATTRIBUTES) << "no network";
    std::filesystem::create_directories(dir_ / "cdrive");
    Write("drives.txt", "C: " + (dir_ / "cdrive").string() + "\n");
    h = Open("\\rooted.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "cdrive" / "rooted.txt")) << "a rooted path follows C:";

    for (const char* bad : {"\\\\.\\..", "\\\\.\\a\\b"})
        EXPECT_EQ(Open(bad, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE) << bad;
    Write("devices/KbFilter", "");
    h = Open("\\\\.\\KbFilter", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const BYTE in[] = {0x1e, 0x00, 0xa5};
    EXPECT_TRUE(DeviceIoControl(h, 0x8300A400u, const_cast<BYTE*>(in), sizeof in, nullptr, 0, nullptr, nullptr));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(Lines("devices.log"), std::vector<std::string>{"KbFilter code=0x8300A400 in=1e00a5"});

    Write("diskspace.txt", "# figures\ne: 100 300 200\nF: 7 9\nG: notready\nH: garbage here\n");
    ASSERT_TRUE(GetDiskFreeSpaceExA("e:\\dir", &a, &t, &f));
    EXPECT_EQ(std::make_tuple(a.QuadPart, t.QuadPart, f.QuadPart), std::make_tuple(100u, 300u, 200u));
    ASSERT_TRUE(GetDiskFreeSpaceExA("F:\\", &a, &t, &f));
    EXPECT_EQ(f.QuadPart, 7u) << "the third figure defaults to the first";
    Failed(!GetDiskFreeSpaceExA("G:\\", &a, &t, &f), ERROR_NOT_READY, "no medium");
    Failed(!GetDiskFreeSpaceExA("H:\\", &a, &t, &f), ERROR_PATH_NOT_FOUND, "a malformed line counts as absent");
    for (const char* bad : {static_cast<const char*>(nullptr), "1:\\"})
        EXPECT_FALSE(GetDiskFreeSpaceExA(bad, &a, &t, &f));
}

}  // namespace
