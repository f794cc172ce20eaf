#include "frame/event_log.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/registry.h"

namespace {

constexpr win::REGSAM kInstallAccess = 0x2001F;  // KEY_READ | KEY_WRITE

// The application key without its trailing separator, for opening.
std::string ApplicationKeyPath() {
    std::string path = kEventLogApplicationKey;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

// The strings of a REG_MULTI_SZ value: one after another up to an empty
// one, and never past the data's size.
std::vector<std::string> SplitMultiString(const std::vector<char>& data) {
    std::vector<std::string> list;
    std::size_t at = 0;
    while (at < data.size()) {
        std::size_t n = strnlen(data.data() + at, data.size() - at);
        if (n == 0) break;
        list.emplace_back(data.data() + at, n);
        at += n + 1;
    }
    return list;
}

// Adds `source` to the "Sources" list when the list exists and lacks it.
void AddToSources(win::HKEY application, const std::string& source) {
    win::DWORD type = 0;
    win::DWORD size = 0;
    if (win::RegQueryValueExA(application, "Sources", nullptr, &type, nullptr, &size) != win::ERROR_SUCCESS) return;
    std::vector<char> data(size);
    if (size > 0 && win::RegQueryValueExA(application, "Sources", nullptr, &type,
                                          reinterpret_cast<win::BYTE*>(data.data()), &size) != win::ERROR_SUCCESS) {
        return;
    }
    data.resize(size);
    std::vector<std::string> list = SplitMultiString(data);
    for (const std::string& entry : list) {
        if (entry == source) return;
    }
    list.push_back(source);
    std::string out;
    for (const std::string& entry : list) {
        out += entry;
        out.push_back('\0');
    }
    out.push_back('\0');
    win::RegSetValueExA(application, "Sources", 0, win::REG_MULTI_SZ, reinterpret_cast<const win::BYTE*>(out.data()),
                        static_cast<win::DWORD>(out.size()));
}

}  // namespace

EventLogWriter::EventLogWriter(const char* server_name, const char* source_name)
    : server(server_name == nullptr ? "" : server_name), source(source_name == nullptr ? "" : source_name) {}

EventLogWriter::~EventLogWriter() { Deregister(); }

int EventLogWriter::Install(const char* source_name, const char* message_file, std::uint32_t types) {
    if (source_name == nullptr || message_file == nullptr) return 0;
    win::HKEY application = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_LOCAL_MACHINE, ApplicationKeyPath().c_str(), 0, kInstallAccess, &application) !=
        win::ERROR_SUCCESS) {
        return 0;
    }
    win::HKEY key = nullptr;
    if (win::RegCreateKeyExA(application, source_name, 0, nullptr, win::REG_OPTION_NON_VOLATILE, kInstallAccess,
                             nullptr, &key, nullptr) != win::ERROR_SUCCESS) {
        win::RegCloseKey(application);
        return 0;
    }
    int result = 0;
    if (win::RegSetValueExA(key, "EventMessageFile", 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>(message_file),
                            static_cast<win::DWORD>(std::strlen(message_file) + 1)) == win::ERROR_SUCCESS) {
        win::DWORD mask = types;
        result = win::RegSetValueExA(key, "TypesSupported", 0, win::REG_DWORD, reinterpret_cast<const win::BYTE*>(&mask),
                                     sizeof mask) == win::ERROR_SUCCESS;
    }
    win::RegCloseKey(key);
    AddToSources(application, source_name);
    win::RegCloseKey(application);
    return result;
}

int EventLogWriter::Register(const char* server_name, const char* source_name) {
    Deregister();
    // Copies first: the names may be this object's own.
    std::string new_server = server_name == nullptr ? "" : server_name;
    std::string new_source = source_name == nullptr ? "" : source_name;
    handle = win::RegisterEventSourceA(new_server.empty() ? nullptr : new_server.c_str(), new_source.c_str());
    if (handle != nullptr) {
        server = std::move(new_server);
        source = std::move(new_source);
    }
    return handle != nullptr;
}

int EventLogWriter::Deregister() {
    if (handle == nullptr) return 1;
    int result = win::DeregisterEventSource(handle);
    handle = nullptr;
    return result;
}

int EventLogWriter::Report(std::uint16_t type, std::uint16_t category, std::uint32_t event_id, void* user_sid,
                           std::uint16_t num_strings, std::uint32_t data_size, const char** strings, void* data) {
    std::lock_guard<std::mutex> hold(lock);
    Register(server.c_str(), source.c_str());
    if (handle == nullptr) return 0;
    int result = win::ReportEventA(handle, type, category, event_id, user_sid, num_strings, data_size, strings, data);
    Deregister();
    return result;
}

void EventLogWriter::ReportText(std::uint16_t type, std::uint32_t event_id, const char* text) {
    const char* strings[1] = {text == nullptr ? "" : text};
    Report(type, 0, event_id, nullptr, 1, 0, strings, nullptr);
}

void EventLogWriter::ReportTextWithData(std::uint16_t type, std::uint32_t event_id, const char* text,
                                        const void* data, std::uint32_t data_size) {
    const char* strings[1] = {text == nullptr ? "" : text};
    Report(type, 0, event_id, nullptr, 1, data == nullptr ? 0 : data_size, strings, const_cast<void*>(data));
}
