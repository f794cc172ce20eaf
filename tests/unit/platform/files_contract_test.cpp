// Directories and wildcards, devices, handles and disk space, on both
// sides.
#include "platform/files.h"

#include <algorithm>

#include "platform/device.h"
#include "platform/disk.h"
#include "platform/error.h"
#include "platform/handle.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;

class FilesContract : public contract::ScratchTest {
protected:
    // The call failed with `error`.
    static void Failed(bool failed, DWORD error, const char* what) {
        EXPECT_TRUE(failed) << what;
        EXPECT_EQ(GetLastError(), error) << what;
    }
};

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

TEST_F(FilesContract, DevicesAndDiskSpace) {
    Failed(CreateFileA("\\\\.\\VdNoSuchDevice", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr) ==
               INVALID_HANDLE_VALUE,
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

}  // namespace
