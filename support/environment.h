// Environment values of the runtime: the installation root list, the
// installation directory, the double-byte code page, and the values the
// task reads through the kernel with their field sizes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Process environment variables read by the support library.
inline constexpr const char* kEnvPath = "VDPATH";          // root list, "," or ";" separated
inline constexpr const char* kEnvRoot = "VDROOT";          // installation directory
inline constexpr const char* kEnvCodePage = "VDCODEPAGE";  // decimal double-byte code page

// Values the task reads through the kernel at start-up, and the sizes of
// the fields that hold them (terminator included).
inline constexpr const char* kEnvName = "VDNAME";
inline constexpr const char* kEnvDomain = "VDDOMAIN";
inline constexpr const char* kEnvUser = "VDUSER";
inline constexpr const char* kEnvApp = "VDAPP";
inline constexpr std::size_t kEnvNameSize = 32;
inline constexpr std::size_t kEnvDomainSize = 16;
inline constexpr std::size_t kEnvUserSize = 16;
inline constexpr std::size_t kEnvAppSize = 64;
inline constexpr std::size_t kEnvRootSize = 64;

// Copies the variable's value into `buffer`, cut at size-1 and terminated.
// Returns the buffer, or null when the name is null, the buffer is null, the
// size is not positive or the variable is absent.
char* env_get(const char* name, char* buffer, int size);

// The variable's whole value, or nothing when it is absent.
std::optional<std::string> env_value(std::string_view name);

// Sets (value non-null) or removes (null) a process environment variable so
// that env_get, env_value and brace expansion see it. Returns 0 or -1.
int env_set(const char* name, const char* value);

// The installation root: $VDPATH, else $VDROOT; nothing when neither is set.
std::optional<std::string> env_install_root();
