// Simulated host: every HANDLE points to a HostObject, so CloseHandle and
// WaitForSingleObject work for any kind of object the families create.
#pragma once

#include "platform/types.h"

namespace win::host {

class HostObject {
public:
    virtual ~HostObject() = default;
    // Waits up to `milliseconds` (0xFFFFFFFF = forever) until the object is
    // signalled; returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED values.
    virtual DWORD Wait(DWORD milliseconds);
};

// The object behind a handle, or null for null / INVALID_HANDLE_VALUE.
HostObject* FromHandle(HANDLE handle);

template <typename T>
T* As(HANDLE handle) {
    return dynamic_cast<T*>(FromHandle(handle));
}

}  // namespace win::host
