// Device control on the simulated host: every request to a device is
// recorded in "devices.log".
#include "platform/device.h"
#include "platform/fault_points.h"

#include <cstdio>
#include <string>
#include <typeinfo>

#include "platform/error.h"
#include "platform/simulated/host_device.h"
#include "platform/simulated/host_state.h"

namespace win {

namespace {

std::string Hex(const void* data, DWORD size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (DWORD i = 0; data != nullptr && i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
    return out;
}

}  // namespace

BOOL sys::DeviceIoControl(HANDLE device, DWORD io_control_code, LPVOID in_buffer, DWORD in_buffer_size,
                          LPVOID out_buffer, DWORD out_buffer_size, DWORD* bytes_returned, LPOVERLAPPED overlapped) {
    if (bytes_returned != nullptr) *bytes_returned = 0;
    auto* object = host::As<host::HostDevice>(device);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(io_control_code));
    host::AppendLine("devices.log", object->Name() + " code=" + code + " in=" + Hex(in_buffer, in_buffer_size));
    // A device with a model of its own answers for itself; a plain device
    // (the keyboard filter among them) takes every request and returns no
    // bytes. Nothing is registered at static construction, so a device
    // opened before main (by a static task object) behaves the same.
    if (typeid(*object) == typeid(host::HostDevice)) {
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    DWORD returned = 0;
    BOOL ok = object->Control(io_control_code, in_buffer, in_buffer_size, out_buffer, out_buffer_size, &returned);
    if (bytes_returned != nullptr) *bytes_returned = returned;
    return ok;
}

}  // namespace win
