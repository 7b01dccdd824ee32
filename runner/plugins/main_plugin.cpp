#include "runner/plugins/main_plugin.hpp"

#include <filesystem>
#include <random>

#include "runner/fixtures.hpp"
#include "runner/case_clock.hpp"
#include "runner/controller.hpp"
#include "runner/options.hpp"
#include "runner/reruns.hpp"
#include "runner/selection.hpp"
#include "support/base/printable.hpp"
#include "support/base/errors.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

void MainPlugin::add_options(OptionParser& p) {
  using A = OptionDecl::Action;
  using T = OptionDecl::Type;
  p.add({{"-h", "--help"}, "help", A::StoreTrue, Value(false), "", "显示本帮助信息并退出"});
  p.add({{"-k"}, "keyword", A::Store, Value(""), "EXPRESSION",
         "只运行名称或标签与表达式匹配的用例（and / or / not，名称按子串匹配）"});
  p.add({{"-m"}, "markexpr", A::Store, Value(""), "MARKEXPR", "只运行标签与表达式匹配的用例"});
  p.add({{"-x", "--exitfirst"}, "exitfirst", A::StoreTrue, Value(false), "", "第一个用例失败或出错后立即停止"});
  p.add({{"--maxfail"}, "maxfail", A::Store, Value(0), "num", "失败或出错的用例达到 num 个后停止", T::Integer});
  p.add({{"-v", "--verbose"}, "verbose", A::Count, Value(0), "", "输出更详细：每个用例一行"});
  p.add({{"-q", "--quiet"}, "quiet", A::Count, Value(0), "", "输出更简略"});
  p.add({{"--reruns"}, "reruns", A::Store, Value(0), "N", "失败或出错的用例最多重跑 N 次（用例的 @reruns 优先）", T::Integer});
  p.add({{"--reruns-delay"}, "reruns_delay", A::Store, Value(""), "S", "每次重跑前等待 S 秒"});
  p.add({{"--only-rerun"}, "only_rerun", A::Append, Value(), "REGEX",
         "只重跑错误（种类与消息）与正则表达式匹配的用例，可多次给出"});
  p.add({{"--case-timeout"}, "case_timeout", A::Store, Value(""), "S",
         "每个用例最多运行 S 秒，超时的用例停止并记为出错（用例的 @timeout 优先）"});
  p.add({{"--shard"}, "shard", A::Store, Value(""), "I/N",
         "只运行选中用例按顺序均分为 N 份后的第 I 份（多台机器各跑一份）"});
  p.add({{"-n", "--numprocesses"}, "numprocesses", A::Store, Value(""), "N",
         "用 N 个执行进程并行运行用例（auto：CPU 个数；0：不并行）"});
  p.add({{"--dist"}, "dist", A::Store, Value("load"), "MODE",
         "并行时分派用例的方式：load（下一个用例给下一个空闲的执行进程）、loadfile（同一文件的用例在同一执行进程中按顺序运行）"});
  p.add({{"--tovik-worker"}, "tovik_worker", A::Store, Value(0), "N", "", T::Integer, true});
  p.add({{"--collect-only", "--co"}, "collectonly", A::StoreTrue, Value(false), "", "只收集用例，不运行"});
  p.add({{"-o", "--override-ini"}, "override_ini", A::Append, Value(), "OVERRIDE_INI",
         "本次运行覆盖 [pytest] 中的一个值：-o key=value"});
  p.add({{"--log-level"}, "log_level", A::Store, Value(""), "LEVEL", "捕获日志的级别（默认：info）"});
  p.add({{"--log-file"}, "log_file", A::Store, Value(""), "PATH", "同时把日志写入这个文件"});
  p.add({{"--log-file-level"}, "log_file_level", A::Store, Value(""), "LEVEL", "日志文件的日志级别"});
  p.add({{"--log-cli-level"}, "log_cli_level", A::Store, Value(""), "LEVEL", "按这个级别实时显示日志"});
}

void MainPlugin::configure(Config& config) {
  if (const std::int64_t n = config.int_option("maxfail"); n < 0)
    throw UsageError("--maxfail 应为不小于 0 的整数（0 表示不限），实际为 " + std::to_string(n));
  Selection::parse_shard(config.text_option("shard"));  // refused before anything runs
  Reruns::from(config);
  worker_count(config);
  dist_mode(config);
  if (const std::string t = config.text_option("case_timeout"); !t.empty() && !parse_seconds(t))
    throw UsageError("--case-timeout 应为大于 0 的秒数，实际为 " + repr_text(t));
}

void MainPlugin::register_fixtures(FixtureRegistry& registry) {
  // A fresh directory per case, removed when the case ends.
  Fixture tmp;
  tmp.name = "tmp_path";
  tmp.scope = Scope::Case;
  tmp.help = "一个只属于本用例的临时目录，用例结束后删除";
  tmp.setup = [](const Config&, const TestCase&) -> Value {
    std::random_device rd;
    const fs::path dir = fs::temp_directory_path() / ("tovik-" + std::to_string(rd()) + std::to_string(rd()));
    std::error_code ec;
    if (!fs::create_directories(dir, ec)) throw OSError("无法创建临时目录 " + dir.string() + ": " + ec.message());
    return Value(dir.string());
  };
  tmp.teardown = [](Value& v) {
    std::error_code ec;
    fs::remove_all(v.as_str(), ec);
  };
  registry.add(std::move(tmp));
}

}  // namespace tovik::runner
