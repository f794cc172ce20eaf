#include "support/environment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Environment, GetCutsAtTheBufferAndTheValueIsReadWhole) {
    env_set("VDT_VALUE", "0123456789");
    // Buffer size: what env_get gives; the byte at the size stays untouched.
    const struct {
        int size;
        const char* want;
    } cases[] = {{1, ""}, {5, "0123"}, {10, "012345678"}, {11, "0123456789"}, {13, "0123456789"}};
    for (const auto& c : cases) {
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        ASSERT_EQ(env_get("VDT_VALUE", buffer, c.size), buffer) << c.size;
        EXPECT_STREQ(buffer, c.want) << c.size;
        EXPECT_EQ(buffer[c.size], '#') << c.size;
    }
    // Longer than the first guess of the value's size.
    const std::string big = std::string(5000, 'v') + "end";
    ASSERT_EQ(env_set("VDT_VALUE", big.c_str()), 0);
    EXPECT_EQ(env_value("VDT_VALUE").value_or(""), big);
    env_set("VDT_VALUE", nullptr);
}

TEST(Environment, MissingAndEmptyValues) {
    char buffer[8] = "keep";
    EXPECT_EQ(env_get("VDT_NOT_SET_ANYWHERE", buffer, sizeof buffer), nullptr);
    EXPECT_STREQ(buffer, "keep");
    env_set("VDT_VALUE", "x");
    env_set("VDT_VALUE", nullptr);
    EXPECT_FALSE(env_value("VDT_VALUE").has_value());
    // An empty value is present, not absent (where the host keeps empty
    // variables at all).
    env_set("VDT_EMPTY", "");
    if (env_value("VDT_EMPTY").has_value()) {
        EXPECT_STREQ(env_get("VDT_EMPTY", buffer, sizeof buffer), "");
    }
    env_set("VDT_EMPTY", nullptr);
}

}  // namespace
