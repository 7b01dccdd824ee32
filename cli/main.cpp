// The tovik command.
#include <iostream>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.hpp"
#include "support/base/errors.hpp"
#include "version.hpp"

int main(int argc, char** argv) {
  CLI::App app{"tovik: 关键字驱动的自动化测试框架"};
  app.get_formatter()->label("Usage", "用法");
  app.get_formatter()->label("OPTIONS", "选项");
  app.get_formatter()->label("SUBCOMMAND", "子命令");
  app.option_defaults()->group("选项");
  app.set_help_flag("-h,--help", "显示帮助信息并退出");
  app.set_version_flag("--version", std::string("tovik ") + tovik::kTovikVersion, "显示版本信息并退出");
  // CLI11's own texts for the one mistake a tester makes here: words that are no subcommand
  app.failure_message([](const CLI::App* a, const CLI::Error& e) {
    std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
      what = "无法识别的参数:";
      for (const auto& w : a->remaining()) what += " " + w;
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

  // "run" hands its arguments to the runner untouched: CLI11 ends a subcommand at "--" and
  // rejects what follows, while the runner reads "--" as the end of its options
  const bool direct_run = argc >= 2 && std::string_view(argv[1]) == "run";
  if (!direct_run) {
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      // help and version end with 0; every mistake on the command line is a usage error (4),
      // as the runner's own are, not one of CLI11's private codes
      const int rc = app.exit(e);
      return rc == 0 ? 0 : 4;
    }
    if (app.get_subcommands().empty()) {
      std::cout << app.help();
      return 4;
    }
  }

  try {
    if (direct_run) return tovik::cli::run(std::vector<std::string>(argv + 2, argv + argc));
    if (run->parsed()) return tovik::cli::run(run->remaining());
  } catch (const std::exception& e) {
    std::cerr << tovik::describe_error(e) << "\n";
    return 3;
  }
  return 0;
}
