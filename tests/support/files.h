#pragma once

// Whole files as tests read and write them.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// Every byte of the file; empty when it cannot be read.
inline std::string contents(const std::filesystem::path& path) {
  std::ifstream input(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << input.rdbuf();
  return bytes.str();
}

// Writes `bytes` as the whole file, making its folders first.
inline void put(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}
