// Scratch files of the fuzz targets: one directory per process (parallel
// fuzzing jobs must not share files) and the input written as a file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

namespace fuzz {

inline const std::filesystem::path& WorkDir(const char* prefix) {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / (prefix + std::to_string(std::random_device{}()));
  return dir;
}

inline void Put(const std::filesystem::path& p, std::string_view bytes) {
  std::error_code ec;
  std::filesystem::create_directories(p.parent_path(), ec);
  if (std::FILE* f = std::fopen(p.string().c_str(), "wb")) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

}  // namespace fuzz
