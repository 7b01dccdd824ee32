#include "cli/run_config.hpp"

#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/data_dir.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik::cli {

namespace fs = std::filesystem;

void ensure_pytest_ini() {
  const fs::path ini = "pytest.ini";
  std::error_code ec;
  if (fs::exists(fs::symlink_status(ini, ec))) return;
  const std::string message = ini.string() + "不存在，自动创建";
  std::cout << message << std::endl;
  log::pytest()->info("{}", message);

  const fs::path tmpl = data_dir() / "pytest.ini.txt";
  std::ifstream in(tmpl, std::ios::binary);
  if (!in) throw OSError("pytest.ini 模板无法读取: " + tmpl.string());
  std::stringstream text;
  text << in.rdbuf();
  std::ofstream out(ini, std::ios::binary | std::ios::trunc);
  if (!out || !(out << text.str()) || !out.flush()) throw OSError("pytest.ini 无法写入: " + fs::absolute(ini).string());
  out.close();
  settings::tovik().reload_settings();
  settings::tovik_api().reload_settings();
  settings::tovik_ui().reload_settings();
}

switch_test_dir::switch_test_dir(const fs::path& target_path, bool allow_file) {
  fs::path target = target_path;
  std::error_code ec;
  if (allow_file && fs::is_regular_file(target, ec)) target = target.parent_path();
  if (target.empty()) target = ".";
  previous_ = fs::current_path();
  fs::current_path(target, ec);
  if (ec) throw OSError("无法进入目录 " + target_path.string() + ": " + ec.message());
}

switch_test_dir::~switch_test_dir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
}

}  // namespace tovik::cli
