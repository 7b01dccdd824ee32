// Preparing the place a run starts in: a pytest.ini made from the template when missing, and a
// scoped change into the suite's directory.
#pragma once

#include <filesystem>
#include <utility>

namespace tovik::cli {

// Creates "pytest.ini" in the current directory from the packaged template when nothing of that
// name exists, prints and logs "pytest.ini不存在，自动创建", and reloads the settings sections.
// File-system errors pass on; then nothing is reloaded.
void ensure_pytest_ini();

// The guarded form of an operation: every call first makes sure pytest.ini exists.
template <class F>
auto write_pytest_ini(F func) {
  return [func = std::move(func)](auto&&... args) -> decltype(auto) {
    ensure_pytest_ini();
    return func(std::forward<decltype(args)>(args)...);
  };
}

// 临时切换测试环境（目录）: the current directory is target for the scope's life and is restored
// after, also when the scope ends with an exception. With allow_file, a path naming an existing
// file stands for its directory. A missing directory is an OSError, before anything changed.
class switch_test_dir {
 public:
  explicit switch_test_dir(const std::filesystem::path& target_path, bool allow_file = false);
  ~switch_test_dir();
  switch_test_dir(const switch_test_dir&) = delete;
  switch_test_dir& operator=(const switch_test_dir&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace tovik::cli
