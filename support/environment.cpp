#include "support/environment.h"

#include <cstring>

#include "platform/environment.h"
#include "platform/error.h"

std::optional<std::string> env_value(std::string_view name) {
    std::string key(name);
    std::string value(64, '\0');
    // The value may change between the size query and the copy: retry.
    for (int attempt = 0; attempt < 8; ++attempt) {
        // An empty value also gives 0: only the last error tells them apart.
        win::SetLastError(win::ERROR_SUCCESS);
        win::DWORD n = win::GetEnvironmentVariableA(key.c_str(), value.data(),
                                                    static_cast<win::DWORD>(value.size()));
        if (n == 0) {
            if (win::GetLastError() == win::ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.assign(n, '\0');
    }
    return std::nullopt;
}

char* env_get(const char* name, char* buffer, int size) {
    if (name == nullptr || buffer == nullptr || size <= 0) return nullptr;
    std::optional<std::string> value = env_value(name);
    if (!value) return nullptr;
    std::size_t n = value->size();
    if (n > static_cast<std::size_t>(size) - 1) n = static_cast<std::size_t>(size) - 1;
    std::memcpy(buffer, value->data(), n);
    buffer[n] = '\0';
    return buffer;
}

int env_set(const char* name, const char* value) {
    if (name == nullptr || *name == '\0') return -1;
    return win::SetEnvironmentVariableA(name, value) ? 0 : -1;
}

std::optional<std::string> env_install_root() {
    if (auto path = env_value(kEnvPath)) return path;
    return env_value(kEnvRoot);
}
