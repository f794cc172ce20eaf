#include "support/environment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class EnvironmentTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* name : {"VDT_VALUE", "VDT_EMPTY"}) env_set(name, nullptr);
    }
};

TEST_F(EnvironmentTest, GetCutsAtTheBufferAndNeverOverruns) {
    env_set("VDT_VALUE", "0123456789");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(env_get("VDT_VALUE", buffer, 5), buffer);
    EXPECT_STREQ(buffer, "0123");
    EXPECT_EQ(buffer[5], '#');
    EXPECT_STREQ(env_get("VDT_VALUE", buffer, 1), "");
    char whole[16];
    EXPECT_STREQ(env_get("VDT_VALUE", whole, 11), "0123456789");

    // A value longer than any fixed buffer is read whole.
    const std::string big = std::string(5000, 'v') + "end";
    ASSERT_EQ(env_set("VDT_VALUE", big.c_str()), 0);
    EXPECT_EQ(env_value("VDT_VALUE").value_or(""), big);
    EXPECT_EQ(std::strlen(env_get("VDT_VALUE", whole, sizeof whole)), sizeof whole - 1);
}

TEST_F(EnvironmentTest, MissingAndInvalidArguments) {
    char buffer[8] = "keep";
    EXPECT_EQ(env_get("VDT_NOT_SET_ANYWHERE", buffer, sizeof buffer), nullptr);
    EXPECT_EQ(env_get(nullptr, buffer, sizeof buffer), nullptr);
    EXPECT_EQ(env_get("VDT_VALUE", nullptr, 8), nullptr);
    EXPECT_EQ(env_get("VDT_VALUE", buffer, 0), nullptr);
    EXPECT_EQ(env_get("VDT_VALUE", buffer, -3), nullptr);
    EXPECT_EQ(env_set(nullptr, "x"), -1);
    EXPECT_EQ(env_set("", "x"), -1);

    // An empty value is present, not absent (where the host keeps empty
    // variables at all); removing a variable makes it absent.
    env_set("VDT_EMPTY", "");
    if (env_value("VDT_EMPTY").has_value()) {
        EXPECT_EQ(*env_value("VDT_EMPTY"), "");
        EXPECT_STREQ(env_get("VDT_EMPTY", buffer, sizeof buffer), "");
    }
    env_set("VDT_VALUE", "x");
    env_set("VDT_VALUE", nullptr);
    EXPECT_FALSE(env_value("VDT_VALUE").has_value());
}

}  // namespace
