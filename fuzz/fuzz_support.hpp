// What the fuzz targets share: a scratch directory for the parsers that read paths, and a check
// that stops the run on a broken property (libFuzzer keeps the input as a crash).
#pragma once

#include <stdlib.h>  // mkdtemp

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace tovik::fuzz {

// One directory per process, in memory when /dev/shm exists: every input is written anew.
// Never destroyed, so the exit handler that removes the directory can still read its name.
inline const std::filesystem::path& scratch_dir() {
  static const std::filesystem::path* const dir = [] {
    std::error_code ec;
    const std::string base =
        std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    std::string name = base + "/tovik_fuzz.XXXXXX";
    if (!mkdtemp(name.data())) {
      std::perror("tovik fuzz: mkdtemp");
      std::abort();
    }
    return new std::filesystem::path(name);
  }();
  static const bool cleanup = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(*dir, ignored);
  }) == 0;
  (void)cleanup;
  return *dir;
}

// Writes the input to name in the scratch directory and returns its path.
inline std::filesystem::path write_scratch(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = scratch_dir() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    std::fprintf(stderr, "tovik fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
  return path;
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A property every accepted input must keep; a broken one is a finding like a crash.
inline void check(bool ok, std::string_view what, std::string_view detail = {}) {
  if (ok) return;
  std::fprintf(stderr, "tovik fuzz: property broken: %.*s\n%.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace tovik::fuzz
