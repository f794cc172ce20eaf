#include "platform/handle.h"
#include "platform/fault_points.h"

#include "platform/error.h"
#include "platform/simulated/host_object.h"

namespace win {
namespace host {

DWORD HostObject::Wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;  // not a waitable object
}

HostObject* FromHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    return static_cast<HostObject*>(handle);
}

}  // namespace host

BOOL sys::CloseHandle(HANDLE handle) {
    host::HostObject* object = host::FromHandle(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete object;
    return TRUE;
}

}  // namespace win
