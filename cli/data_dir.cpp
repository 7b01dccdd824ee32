#include "cli/data_dir.hpp"

#include <cstdlib>

#include "support/base/errors.hpp"

namespace tovik::cli {

namespace fs = std::filesystem;

fs::path data_dir() {
  if (const char* env = std::getenv("TOVIK_DATA_DIR"); env && *env) return fs::path(env);
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw OSError("cannot locate the tovik program: " + ec.message());
  const fs::path dir = exe.parent_path().parent_path() / "share" / "tovik" / "file";
  if (!fs::exists(dir / "pytest.ini.txt", ec))
    throw OSError("packaged data not found: " + (dir / "pytest.ini.txt").string());
  return dir;
}

}  // namespace tovik::cli
