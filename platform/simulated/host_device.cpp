#include "platform/simulated/host_device.h"

#include <sys/stat.h>

#include <cctype>
#include <map>
#include <mutex>

#include "platform/error.h"
#include "platform/simulated/host_state.h"

namespace win::host {

namespace {

std::string Upper(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

struct Registry {
    std::mutex mutex;
    std::map<std::string, HostDeviceFactory> factories;
};

Registry& Factories() {
    static Registry registry;
    return registry;
}

// A device name must stay inside the devices directory.
bool ValidName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        if (c == '/' || c == '\\' || c == '\0') return false;
    }
    return true;
}

}  // namespace

BOOL HostDevice::Control(DWORD, const void*, DWORD, void*, DWORD, DWORD* returned) {
    if (returned != nullptr) *returned = 0;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

void RegisterHostDevice(const std::string& name, HostDeviceFactory factory) {
    Registry& registry = Factories();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.factories[Upper(name)] = std::move(factory);
}

HostDevice* OpenHostDevice(const std::string& name) {
    if (!ValidName(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::string marker = StatePath("devices/" + name);
    struct stat st {};
    if (::stat(marker.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    HostDeviceFactory factory;
    {
        Registry& registry = Factories();
        std::lock_guard<std::mutex> lock(registry.mutex);
        auto it = registry.factories.find(Upper(name));
        if (it != registry.factories.end()) factory = it->second;
    }
    std::unique_ptr<HostDevice> device =
        factory ? factory(name, marker) : std::make_unique<HostDevice>(name, marker);
    if (!device) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return device.release();
}

}  // namespace win::host
