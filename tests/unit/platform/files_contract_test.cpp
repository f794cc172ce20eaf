// Listing files with a wildcard, on both sides. Creating, removing, listing
// and the disk figures go through the system's own file and disk code,
// whose tests run on both sides too; here what those leave out.
#include "platform/files.h"

#include <algorithm>

#include "platform/error.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;
using FilesContract = contract::ScratchTest;

TEST_F(FilesContract, WildcardsIgnoreCase) {
    for (const char* name : {"d/one.txt", "d/two.TXT", "d/three.log"}) Write(name, name);
    WIN32_FIND_DATAA data{};
    HANDLE find = FindFirstFileA((Win("d") + "\\*.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(find));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "two.TXT"}));
}

}  // namespace
