// The fuzz targets' entry point with the input as text, and their scratch files:
// one directory per process (parallel fuzzing jobs must not share files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "tests/support/scratch_dir.h"

// Defines the fuzz entry point with its body following: VD_FUZZ(bytes) { ... }.
#define VD_FUZZ(bytes)                                                              \
  static void FuzzOne(std::string_view bytes);                                     \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
    return FuzzOne(std::string_view(reinterpret_cast<const char*>(data), size)), 0; \
  }                                                                                 \
  static void FuzzOne(std::string_view bytes)

namespace fuzz {

inline const std::filesystem::path& WorkDir(const char* prefix) {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / (prefix + std::to_string(std::random_device{}()));
  return dir;
}

inline void Put(const std::filesystem::path& p, std::string_view bytes) { vdtest::WriteFile(p, std::string(bytes)); }

// After every input: the fuzzer may end the process without exit handlers.
inline void Remove(const std::filesystem::path& p) {
  std::error_code ec;
  std::filesystem::remove_all(p, ec);
}

}  // namespace fuzz
