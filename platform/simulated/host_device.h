// Simulated host: devices opened with CreateFileA("\\.\NAME", ...).
//
// A device exists while the state directory holds the file
// "devices/<NAME>" (its content is free for the device's own use).
// CreateFileA then returns a handle to a HostDevice, and CloseHandle
// deletes it. Device control requests go through HostDevice::Control,
// which the device families override by registering a factory for their
// device name; without one the plain HostDevice refuses every request.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/simulated/host_object.h"
#include "platform/types.h"

namespace win::host {

class HostDevice : public HostObject {
public:
    explicit HostDevice(std::string name, std::string marker_path)
        : name_(std::move(name)), marker_path_(std::move(marker_path)) {}

    // Device name as given after "\\.\" (case kept).
    const std::string& Name() const { return name_; }
    // Host path of the state directory's "devices/<NAME>" file.
    const std::string& MarkerPath() const { return marker_path_; }

    // One device control request (the body of DeviceIoControl). Returns
    // FALSE with ERROR_INVALID_FUNCTION unless overridden.
    virtual BOOL Control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
                         DWORD* returned);

private:
    std::string name_;
    std::string marker_path_;
};

// Creates the object for a device whose marker file exists. Factories are
// looked up by device name, case-insensitively.
using HostDeviceFactory =
    std::function<std::unique_ptr<HostDevice>(const std::string& name, const std::string& marker_path)>;

// Registers (or replaces) the factory for one device name.
void RegisterHostDevice(const std::string& name, HostDeviceFactory factory);

// Opens a device: null with ERROR_FILE_NOT_FOUND when the marker file is
// missing. Used by CreateFileA.
HostDevice* OpenHostDevice(const std::string& name);

}  // namespace win::host
