// Scratch files of the fuzz targets: one directory per process (parallel
// fuzzing jobs must not share files) and the input written as a file.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <string_view>

#include "tests/support/scratch_dir.h"

namespace fuzz {

inline const std::filesystem::path& WorkDir(const char* prefix) {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / (prefix + std::to_string(std::random_device{}()));
  return dir;
}

inline void Put(const std::filesystem::path& p, std::string_view bytes) { vdtest::WriteFile(p, std::string(bytes)); }

}  // namespace fuzz
