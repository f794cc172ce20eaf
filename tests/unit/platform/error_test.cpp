#include "platform/error.h"

#include <gtest/gtest.h>

#include <thread>

// Thread start and join may themselves set the caller's last error (they do
// on Windows), so each thread checks its own value right after setting it.
TEST(LastError, IsKeptPerThread) {
    win::DWORD mine = 0, other = 0;
    std::thread worker([&] {
        win::SetLastError(win::ERROR_ACCESS_DENIED);
        other = win::GetLastError();
    });
    win::SetLastError(win::ERROR_FILE_NOT_FOUND);
    mine = win::GetLastError();
    worker.join();
    EXPECT_EQ(mine, win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(other, win::ERROR_ACCESS_DENIED);
}
