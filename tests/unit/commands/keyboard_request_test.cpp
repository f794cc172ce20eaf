#include <gtest/gtest.h>

#include <cstring>

#include "commands/keyboard_device.h"
#include "test_support.h"

TEST(KeyboardRequest, ModifiersTravelReversedAsZeroOrOne) {
    // Row order a, b, c becomes words c, b, a; nonzero flags become 1.
    KeyboardRequest r = MakeKeyboardRequest(0x0053, /*a=*/7, /*c=*/-1, /*b=*/0, /*lock_option=*/7);
    unsigned char bytes[10];
    std::memcpy(bytes, &r, sizeof bytes);
    const unsigned char expected[10] = {0x53, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x07, 0x00};
    EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes));

    KeyboardRequest e = MakeKeyboardRequest(0xE053, 0, 0, 2, 0xFFFF);
    EXPECT_EQ(e.key_code, 0xE053);
    EXPECT_EQ(e.modifier_c, 0);
    EXPECT_EQ(e.modifier_b, 1);
    EXPECT_EQ(e.modifier_a, 0);
    EXPECT_EQ(e.lock_option, 0xFFFF);
}

TEST(KeyboardDevice, MissingDeviceRefusesRequestsWithoutTouchingIt) {
    cmdtest::ScratchDir scratch;
    KeyboardFilterDevice device("\\\\.\\NoSuchKbDeviceHere");
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(device.LockKey(0x1E, 1, 1, 1, 0));
    EXPECT_FALSE(device.UnlockKey(0x1E, 1, 1, 1));
    device.Close();
    device.Close();  // closing twice is harmless
    EXPECT_EQ(device.locked(), 0);
}
