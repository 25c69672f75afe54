#pragma once

// Whole files and scratch folders as tests read, write and make them.

#include <stdlib.h>

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

// A new empty folder of the test's own in the temporary folder, "quillfen-<name>-" and six
// characters; empty when it cannot be made.
inline std::filesystem::path scratchFolder(const std::string& name) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / ("quillfen-" + name + "-XXXXXX")).string();
  return mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern)
                                            : std::filesystem::path();
}
