#include "cli/report.hpp"

#include <iostream>

#include "cli/run_config.hpp"
#include "notify/sender.hpp"
#include "outside/settings/settings.hpp"
#include "runner/main.hpp"
#include "support/base/printable.hpp"
#include "support/base/subprocess.hpp"

namespace tovik::cli {

namespace fs = std::filesystem;

namespace {

fs::path program_dir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

// The report's history goes into the new results, so its trend graphs grow run by run.
void carry_history(const fs::path& report_dir, const fs::path& results) {
  std::error_code ec;
  const fs::path history = report_dir / "history";
  if (!fs::is_directory(history, ec)) return;
  fs::create_directories(results / "history", ec);
  fs::copy(history, results / "history", fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec) std::cout << "警告：报告历史未能复制到结果目录: " << ec.message() << std::endl;
}

std::optional<bool> report_unguarded(bool s, const std::vector<std::string>& runner_args,
                                     const std::vector<runner::Plugin*>& plugins) {
  const std::vector<std::string> args(runner_args.begin(), runner_args.end());
  const auto prepared = runner::prepare_config(args, plugins);
  const auto& tovik = settings::tovik();
  const std::string allure = tovik.text("allure_path");
  const std::string report_dir = tovik.text("allure_report");
  const Value results = prepared->getoption("allure_report_dir");

  if (results.is_none() || (results.is_str() && results.as_str().empty())) {
    std::cout << "出错： allure-pytest似乎未启用" << std::endl;
    return std::nullopt;
  }
  const std::string results_dir = str(results);
  std::error_code ec;
  if (!fs::exists(results_dir, ec)) {
    std::cout << "出错：allure结果不存在，请执行用例生成结果" << std::endl;
    return std::nullopt;
  }

  const std::string command = allure + " generate " + results_dir + "  -o " + report_dir + " --clean";
  std::cout << "执行命令: " << " " << command << std::endl;
  carry_history(report_dir, results_dir);
  const std::string program = allure_program(allure);
  if (run_and_wait({program, "generate", results_dir, "-o", report_dir, "--clean"}) != 0) {
    std::cout << "生成HTML测试报告失败： 请确认allure安装成功，并添加到环境变量中！" << std::endl;
    return std::nullopt;
  }

  if (s || tovik.boolean("allure_show")) {
    sender::send_report(Value(tovik.text("allure_url")));
    // serves until the server ends; its status says nothing about the report
    run_and_wait({program, "open", report_dir, "-p", tovik.text("allure_local_port")});
  }
  return true;
}

}  // namespace

std::string allure_program(const std::string& allure_path) {
  if (allure_path != "allure" || !find_program(allure_path).empty()) return allure_path;
  const fs::path bin = program_dir();
  for (const fs::path& candidate : {bin.parent_path().parent_path() / "tools/node_modules/.bin/allure",
                                    bin.parent_path() / "share/tovik/tools/node_modules/.bin/allure"}) {
    if (!find_program(candidate.string()).empty()) return candidate.string();
  }
  return allure_path;
}

std::optional<bool> report(bool s, const std::vector<std::string>& runner_args,
                           const std::vector<runner::Plugin*>& plugins) {
  return write_pytest_ini(report_unguarded)(s, runner_args, plugins);
}

}  // namespace tovik::cli
