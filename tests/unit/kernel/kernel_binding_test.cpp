// Calls while no kernel is bound fail without crashing; binding by number
// from the library is what every end-to-end process does first.
#include <gtest/gtest.h>

#include "kernel/kernel.h"

namespace {

TEST(KernelBinding, UnboundCallsFailWithoutCrashing) {
    kernel_unbind();
    EXPECT_FALSE(kernel_is_bound());
    EXPECT_EQ(kernel_attach("X", "", "", "", ""), -1);
    char buf[8] = "zzz";
    EXPECT_EQ(kernel_get_env("PATH", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_STREQ(kernel_banner(), "");
    EXPECT_EQ(kernel_lock(0), -1);
    EXPECT_EQ(kernel_last_error(0), kKernelErrNoDatabase);
    KernelOps partial{};
    kernel_bind_table(partial);
    EXPECT_FALSE(kernel_is_bound());
}

}  // namespace
