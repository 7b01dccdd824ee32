// The tovik command: run, start, report, check, schema, docs.
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.hpp"
#include "cli/docs.hpp"
#include "cli/check.hpp"
#include "runner/plugins/yaml_schema.hpp"
#include "support/base/atomic_file.hpp"
#include "cli/report.hpp"
#include "cli/start.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "version.hpp"

namespace {

constexpr int kFailed = 1, kInternal = 3, kUsage = 4;

// "tovik report ... -s ...": the flag may stand anywhere before "--"; everything else goes to
// the runner's configuration, as the arguments of run do.
std::vector<std::string> report_args(const std::vector<std::string>& words, bool& show, bool& help) {
  std::vector<std::string> out;
  bool options_end = false;
  for (const auto& w : words) {
    if (!options_end && (w == "-s" || w == "--show")) show = true;
    else if (!options_end && (w == "-h" || w == "--help")) help = true;
    else {
      if (w == "--") options_end = true;
      out.push_back(w);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  // warnings outside a run (a notice that failed, a command's trouble) reach the terminal
  tovik::log::use_last_resort();
  CLI::App app{"tovik: 关键字驱动的自动化测试框架"};
  app.get_formatter()->label("Usage", "用法");
  app.get_formatter()->label("OPTIONS", "选项");
  app.get_formatter()->label("SUBCOMMAND", "子命令");
  app.get_formatter()->label("Positionals", "参数");
  app.get_formatter()->label("REQUIRED", "必填");
  app.option_defaults()->group("选项");
  app.set_help_flag("-h,--help", "显示帮助信息并退出");
  app.set_version_flag("--version", std::string("tovik ") + tovik::kTovikVersion, "显示版本信息并退出");
  // CLI11's own texts for the one mistake a tester makes here: words that are no subcommand
  app.failure_message([](const CLI::App* a, const CLI::Error& e) {
    std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
      what = "无法识别的参数:";
      for (const auto& w : a->remaining()) what += " " + w;
    } else if (dynamic_cast<const CLI::RequiredError*>(&e)) {
      what = "缺少必填的参数: " + what;  // CLI11 names the argument ("name is required")
    }
    return what + "\n运行 tovik --help 查看用法\n";
  });
  app.require_subcommand(0, 1);

  auto* run = app.add_subcommand("run", "启动框架 执行用例，可传递pytest参数拉控制执行");
  run->group("子命令");
  // everything after "run" belongs to the runner, options included
  run->prefix_command();
  run->allow_extras();
  run->set_help_flag();  // "tovik run -h" shows the runner's options

  std::string name, kw_type = "all";
  auto* start = app.add_subcommand("start", "创建测试用例demo文件. 并命名为 test_{name}.xlsx");
  start->group("子命令");
  start->set_help_flag("-h,--help", "显示帮助信息并退出");
  start->add_option("name", name, "用例名称：工作表的标题，也是文件名 test_{name}.xlsx 的一部分")->required();
  start->add_option("kw_type", kw_type, "关键字类型（web、app、api 或 all），决定下拉列表中的关键字")
      ->capture_default_str();

  auto* report = app.add_subcommand("report", "调用allure，生成HTML报告");
  report->group("子命令");
  report->footer("out_dir 报告速输出目录，默认: ./report\n其余参数按 tovik run 的参数构建运行配置，例如 --alluredir DIR");
  report->set_help_flag("-h,--help", "显示帮助信息并退出");
  bool show_flag = false;
  report->add_flag("-s,--show", show_flag, "生成后发送报告通知并启动报告服务（allure_local_port）");
  report->allow_extras();

  std::vector<std::string> check_paths;
  std::string check_format = "text";
  auto* check = app.add_subcommand("check", "不运行用例，检查用例文件中的关键字、参数、定位符和变量引用");
  check->group("子命令");
  check->set_help_flag("-h,--help", "显示帮助信息并退出");
  check->add_option("paths", check_paths, "要检查的文件或目录（默认：pytest.ini 的 testpaths，否则当前目录）");
  check->add_option("--format", check_format, "输出格式：text 或 json")->capture_default_str();

  std::string schema_out;
  auto* schema = app.add_subcommand("schema", "输出 YAML 用例文件的 JSON Schema，供编辑器校验与补全");
  schema->group("子命令");
  schema->set_help_flag("-h,--help", "显示帮助信息并退出");
  schema->add_option("-o,--output", schema_out, "写入此文件，而不是标准输出");

  std::string docs_kind = "all", docs_format = "text", docs_out;
  auto* docs = app.add_subcommand("docs", "打印关键字文档");
  docs->group("子命令");
  docs->set_help_flag("-h,--help", "显示帮助信息并退出");
  docs->add_option("kw_type", docs_kind, "关键字类型（web、app、api 或 all）")->capture_default_str();
  docs->add_option("--format", docs_format, "输出格式：text、markdown、html 或 json")->capture_default_str();
  docs->add_option("-o,--output", docs_out, "写入此文件，而不是标准输出");
  docs->allow_extras();  // further words are accepted and ignored

  // "run" and "report" hand their arguments to the runner untouched: CLI11 ends a subcommand at
  // "--" and rejects what follows, while the runner reads "--" as the end of its options
  const std::string_view first = argc >= 2 ? std::string_view(argv[1]) : std::string_view();
  const bool direct = first == "run" || first == "report";
  if (!direct) {
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      // help and version end with 0; every mistake on the command line is a usage error (4),
      // as the runner's own are, not one of CLI11's private codes
      const int rc = app.exit(e);
      return rc == 0 ? 0 : kUsage;
    }
    if (app.get_subcommands().empty()) {
      std::cout << app.help();
      return kUsage;
    }
  }

  const std::vector<std::string> rest(argc >= 2 ? argv + 2 : argv + argc, argv + argc);
  if (first == "run") {
    try {
      return tovik::cli::run(rest);
    } catch (const std::exception& e) {
      // the runner reports its own failures; what reaches here is a broken installation
      std::cerr << tovik::describe_error(e) << "\n";
      return kInternal;
    }
  }
  try {
    if (first == "report") {
      bool show = false, help = false;
      const auto args = report_args(rest, show, help);
      if (help) {
        std::cout << report->help();
        return 0;
      }
      return tovik::cli::report(show, args).value_or(false) ? 0 : kFailed;
    }
    if (start->parsed()) {
      tovik::cli::start(name, tovik::Value(kw_type));
      return 0;
    }
    if (check->parsed()) return tovik::cli::check_main(check_paths, check_format);
    if (schema->parsed()) {
      const std::string text = tovik::runner::yaml_case_schema();
      if (schema_out.empty()) {
        std::cout << text;
      } else if (const int error = tovik::replace_file(schema_out, text, true)) {
        throw tovik::OSError("无法写入文件 " + schema_out + ": " + std::strerror(error));
      }
      return 0;
    }
    if (docs->parsed()) {
      const auto format = tovik::cli::docs_format(docs_format);
      if (format == tovik::cli::DocsFormat::Text && docs_out.empty()) {
        tovik::cli::docs(tovik::Value(docs_kind));
        return 0;
      }
      const std::string page = tovik::cli::docs_page(tovik::Value(docs_kind), format);
      if (docs_out.empty()) {
        std::cout << page;
      } else {
        std::ofstream out(docs_out, std::ios::binary);
        if (!out || !(out << page) || !out.flush()) throw tovik::OSError("无法写入文件 " + docs_out);
      }
      return 0;
    }
  } catch (const tovik::Error& e) {
    // what a tester can mend: a bad name, an unwritable directory, a missing template
    std::cerr << tovik::describe_error(e) << "\n";
    return kFailed;
  } catch (const std::exception& e) {
    std::cerr << tovik::describe_error(e) << "\n";
    return kInternal;
  }
  return 0;
}
