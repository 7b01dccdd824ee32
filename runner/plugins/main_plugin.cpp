#include "runner/plugins/main_plugin.hpp"

#include <filesystem>
#include <random>

#include "runner/fixtures.hpp"
#include "support/base/errors.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

void MainPlugin::add_options(OptionParser& p) {
  using A = OptionDecl::Action;
  using T = OptionDecl::Type;
  p.add({{"-h", "--help"}, "help", A::StoreTrue, Value(false), "", "show this help message and exit"});
  p.add({{"-k"}, "keyword", A::Store, Value(""), "EXPRESSION",
         "only run cases whose name or tags match the expression (and / or / not, substrings of names)"});
  p.add({{"-m"}, "markexpr", A::Store, Value(""), "MARKEXPR", "only run cases whose tags match the expression"});
  p.add({{"-x", "--exitfirst"}, "exitfirst", A::StoreTrue, Value(false), "", "exit instantly on first error or failed case"});
  p.add({{"--maxfail"}, "maxfail", A::Store, Value(0), "num", "exit after the first num failures or errors", T::Integer});
  p.add({{"-v", "--verbose"}, "verbose", A::Count, Value(0), "", "increase verbosity: one line per case"});
  p.add({{"-q", "--quiet"}, "quiet", A::Count, Value(0), "", "decrease verbosity"});
  p.add({{"--collect-only", "--co"}, "collectonly", A::StoreTrue, Value(false), "", "only collect cases, don't run them"});
  p.add({{"-o", "--override-ini"}, "override_ini", A::Append, Value(), "OVERRIDE_INI",
         "override a [pytest] value for this run: -o key=value"});
  p.add({{"--log-level"}, "log_level", A::Store, Value(""), "LEVEL", "level of the captured log (default: info)"});
  p.add({{"--log-file"}, "log_file", A::Store, Value(""), "PATH", "also write the log to this file"});
  p.add({{"--log-file-level"}, "log_file_level", A::Store, Value(""), "LEVEL", "log level of the log file"});
  p.add({{"--log-cli-level"}, "log_cli_level", A::Store, Value(""), "LEVEL", "show log lines live at this level"});
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
    if (!fs::create_directories(dir, ec)) throw OSError("cannot create temporary directory " + dir.string() + ": " + ec.message());
    return Value(dir.string());
  };
  tmp.teardown = [](Value& v) {
    std::error_code ec;
    fs::remove_all(v.as_str(), ec);
  };
  registry.add(std::move(tmp));
}

}  // namespace tovik::runner
