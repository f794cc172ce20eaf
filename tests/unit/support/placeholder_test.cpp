#include <gtest/gtest.h>
TEST(SupportPlaceholder, Builds) { SUCCEED(); }
