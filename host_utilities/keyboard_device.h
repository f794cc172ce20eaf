// The keyboard filter device "\\.\KbFilter": lock and unlock one key
// combination, release all locks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/device.h"
#include "platform/types.h"

inline constexpr char kKeyboardDevicePath[] = "\\\\.\\KbFilter";

// Device control codes of the filter (device type 0x8300, buffered, write
// access).
inline constexpr win::DWORD kKeyboardDeviceType = 0x8300;
inline constexpr win::DWORD kIoctlLockKey =
    win::CTL_CODE(kKeyboardDeviceType, 0x900, win::METHOD_BUFFERED, win::FILE_WRITE_ACCESS);
inline constexpr win::DWORD kIoctlUnlockKey =
    win::CTL_CODE(kKeyboardDeviceType, 0x901, win::METHOD_BUFFERED, win::FILE_WRITE_ACCESS);
inline constexpr win::DWORD kIoctlReleaseAll =
    win::CTL_CODE(kKeyboardDeviceType, 0x902, win::METHOD_BUFFERED, win::FILE_WRITE_ACCESS);
static_assert(kIoctlLockKey == 0x8300A400u);
static_assert(kIoctlUnlockKey == 0x8300A404u);
static_assert(kIoctlReleaseAll == 0x8300A408u);

// Scan codes of the Delete key: numeric pad and extended.
inline constexpr std::uint16_t kKeyDelete = 0x0053;
inline constexpr std::uint16_t kKeyDeleteExtended = 0xE053;

#pragma pack(push, 1)
// The request block of lock and unlock requests: five little-endian words.
// The modifier words carry the row's flags in reverse order, as 0 or 1.
struct KeyboardRequest {
    std::uint16_t key_code;
    std::uint16_t modifier_c;
    std::uint16_t modifier_b;
    std::uint16_t modifier_a;
    std::uint16_t lock_option;  // 0 in unlock requests
};
#pragma pack(pop)
static_assert(sizeof(KeyboardRequest) == 10);
static_assert(offsetof(KeyboardRequest, key_code) == 0);
static_assert(offsetof(KeyboardRequest, modifier_c) == 2);
static_assert(offsetof(KeyboardRequest, modifier_b) == 4);
static_assert(offsetof(KeyboardRequest, modifier_a) == 6);
static_assert(offsetof(KeyboardRequest, lock_option) == 8);

// Builds the block of a lock (with its option) or unlock (option 0) request.
KeyboardRequest MakeKeyboardRequest(std::uint16_t key_code, std::int16_t modifier_a, std::int16_t modifier_c,
                                    std::int16_t modifier_b, std::uint16_t lock_option);

class KeyboardFilterDevice {
public:
    // Opens the device (a failure is silent: IsOpen tells) and remembers
    // whether the screen-saver password flag was on.
    explicit KeyboardFilterDevice(const char* path);
    virtual ~KeyboardFilterDevice();

    KeyboardFilterDevice(const KeyboardFilterDevice&) = delete;
    KeyboardFilterDevice& operator=(const KeyboardFilterDevice&) = delete;

    bool IsOpen() const;

    // False at once when the device is not open; otherwise the result of the
    // request. Locking Delete with modifiers b and c first switches the
    // screen-saver password flag off.
    bool LockKey(std::uint16_t key_code, std::int16_t modifier_a, std::int16_t modifier_c, std::int16_t modifier_b,
                 std::uint16_t lock_option);
    bool UnlockKey(std::uint16_t key_code, std::int16_t modifier_a, std::int16_t modifier_c,
                   std::int16_t modifier_b);

    // Closes the handle once; later calls do nothing.
    void Close();

    std::int32_t locked() const { return locked_; }
    std::int32_t saved_secure() const { return saved_secure_; }

private:
    bool Send(win::DWORD code, KeyboardRequest* request);

    std::int32_t locked_ = 0;
    std::int32_t saved_secure_ = 0;
    win::HANDLE handle_;
};
