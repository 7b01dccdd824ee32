#include "cli/data_dir.hpp"

#include <cstdlib>

#include "support/base/errors.hpp"

namespace tovik::cli {

namespace fs = std::filesystem;

fs::path data_dir() {
  if (const char* env = std::getenv("TOVIK_DATA_DIR"); env && *env) return fs::path(env);
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw OSError("找不到 tovik 程序所在的位置: " + ec.message());
  const fs::path dir = exe.parent_path().parent_path() / "share" / "tovik" / "file";
  if (!fs::exists(dir / "pytest.ini.txt", ec))
    throw OSError("找不到随程序安装的数据文件: " + (dir / "pytest.ini.txt").string());
  return dir;
}

}  // namespace tovik::cli
