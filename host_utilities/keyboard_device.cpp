#include "host_utilities/keyboard_device.h"

#include <cstring>

#include "platform/files.h"
#include "platform/handle.h"
#include "platform/registry.h"

namespace {

constexpr char kDesktopKey[] = "Control Panel\\Desktop";
constexpr char kSecureValue[] = "ScreenSaverIsSecure";

std::uint16_t Flag(std::int16_t v) { return v != 0 ? 1 : 0; }

void SetSecureFlag(const char* text) {
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, kDesktopKey, 0, win::KEY_ALL_ACCESS, &key) != win::ERROR_SUCCESS)
        return;
    win::RegSetValueExA(key, kSecureValue, 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>(text),
                        static_cast<win::DWORD>(std::strlen(text) + 1));
    win::RegCloseKey(key);
}

}  // namespace

KeyboardRequest MakeKeyboardRequest(std::uint16_t key_code, std::int16_t modifier_a, std::int16_t modifier_c,
                                    std::int16_t modifier_b, std::uint16_t lock_option) {
    KeyboardRequest request;
    request.key_code = key_code;
    request.modifier_c = Flag(modifier_c);
    request.modifier_b = Flag(modifier_b);
    request.modifier_a = Flag(modifier_a);
    request.lock_option = lock_option;
    return request;
}

KeyboardFilterDevice::KeyboardFilterDevice(const char* path)
    : handle_(win::CreateFileA(path, win::GENERIC_READ | win::GENERIC_WRITE,
                               win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, nullptr, win::OPEN_EXISTING, 0,
                               nullptr)) {
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, kDesktopKey, 0, win::KEY_ALL_ACCESS, &key) == win::ERROR_SUCCESS) {
        char buffer[40] = "0";
        win::DWORD size = sizeof buffer;
        win::RegQueryValueExA(key, kSecureValue, nullptr, nullptr, reinterpret_cast<win::BYTE*>(buffer), &size);
        saved_secure_ = buffer[0] != '0' ? 1 : 0;
        win::RegCloseKey(key);
    }
}

KeyboardFilterDevice::~KeyboardFilterDevice() { Close(); }

bool KeyboardFilterDevice::IsOpen() const { return handle_ != win::INVALID_HANDLE_VALUE && handle_ != nullptr; }

bool KeyboardFilterDevice::Send(win::DWORD code, KeyboardRequest* request) {
    win::DWORD returned = 0;
    return win::DeviceIoControl(handle_, code, request, request != nullptr ? sizeof *request : 0, nullptr, 0,
                                &returned, nullptr) != 0;
}

bool KeyboardFilterDevice::LockKey(std::uint16_t key_code, std::int16_t modifier_a, std::int16_t modifier_c,
                                   std::int16_t modifier_b, std::uint16_t lock_option) {
    if (!IsOpen()) return false;
    // Locking the Delete combination would leave a password-protected
    // screen saver that cannot be dismissed: switch the password off.
    if (modifier_c != 0 && modifier_b != 0 && (key_code == kKeyDelete || key_code == kKeyDeleteExtended))
        SetSecureFlag("0");
    KeyboardRequest request = MakeKeyboardRequest(key_code, modifier_a, modifier_c, modifier_b, lock_option);
    return Send(kIoctlLockKey, &request);
}

bool KeyboardFilterDevice::UnlockKey(std::uint16_t key_code, std::int16_t modifier_a, std::int16_t modifier_c,
                                     std::int16_t modifier_b) {
    if (!IsOpen()) return false;
    KeyboardRequest request = MakeKeyboardRequest(key_code, modifier_a, modifier_c, modifier_b, 0);
    return Send(kIoctlUnlockKey, &request);
}

void KeyboardFilterDevice::Close() {
    if (!IsOpen()) return;
    if (locked_ != 0) {
        Send(kIoctlReleaseAll, nullptr);
        SetSecureFlag(saved_secure_ != 0 ? "1" : "");
    }
    win::CloseHandle(handle_);
    handle_ = win::INVALID_HANDLE_VALUE;
}
