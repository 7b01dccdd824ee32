// For the tests: a scratch folder, zips put together by hand, error capture.
#pragma once

#include <unistd.h>
#include <zip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support/base/value.hpp"

namespace tovik::xlsx::test_files {

class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("tovik_xlsx_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

using Entries = std::vector<std::pair<std::string, std::string>>;

inline void write_zip(const std::filesystem::path& path, const Entries& entries) {
  int code = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  ASSERT_NE(z, nullptr) << "zip_open " << code;
  for (const auto& [name, data] : entries)
    ASSERT_GE(zip_file_add(z, name.c_str(), zip_source_buffer(z, data.data(), data.size(), 0), 0), 0);
  ASSERT_EQ(zip_close(z), 0);
}

inline std::string read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The message of the E that f raises.
template <class E>
std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(nothing raised)";
}

// "int float none ...": Value's == treats 3 and 3.0 alike, so kinds are checked apart.
inline std::string kinds(const std::vector<Value>& cells) {
  std::string out;
  for (const Value& v : cells) {
    if (!out.empty()) out += ' ';
    out += v.type_name();
  }
  return out;
}

}  // namespace tovik::xlsx::test_files
