#include "support/environment.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Environment, ValuesAreReadWholeAndMissingDiffersFromEmpty) {
    // Longer than the first guess of the value's size.
    const std::string big = std::string(5000, 'v') + "end";
    ASSERT_EQ(env_set("VDT_VALUE", big.c_str()), 0);
    EXPECT_EQ(env_value("VDT_VALUE").value_or(""), big);
    env_set("VDT_VALUE", nullptr);
    EXPECT_FALSE(env_value("VDT_VALUE").has_value());
    // An empty value is present, not absent (where the host keeps empty
    // variables at all).
    env_set("VDT_EMPTY", "");
    if (env_value("VDT_EMPTY").has_value()) {
        EXPECT_EQ(*env_value("VDT_EMPTY"), "");
    }
    env_set("VDT_EMPTY", nullptr);
}

}  // namespace
