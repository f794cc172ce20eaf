// Binding the kernel operations: by number from the kernel library, or from
// a table; calls while nothing is bound fail without crashing.
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

TEST(KernelBinding, LibraryIsBoundByOperationNumber) {
    // The kernel library sits next to this program.
    ASSERT_EQ(kernel_bind_library(), 0);
    EXPECT_TRUE(kernel_is_bound());
    EXPECT_STREQ(kernel_banner(), "VD stand-in runtime kernel 1.0");
    char buf[4] = "zzz";
    EXPECT_EQ(kernel_get_env("VD_SURELY_UNSET_VARIABLE", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    kernel_unbind();
    EXPECT_FALSE(kernel_is_bound());
}

}  // namespace
