#include "runner/plugins/last_failed.hpp"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "runner/config.hpp"
#include "runner/options.hpp"
#include "runner/report.hpp"
#include "support/base/atomic_file.hpp"
#include "support/base/log.hpp"
#include "support/base/value_json.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFile = "lastfailed";

// What the cache folder says about itself, as version control and people first see it.
constexpr const char* kGitignore = "# 由 tovik 创建，内容随时可以删除\n*\n";
constexpr const char* kReadme =
    "# tovik 缓存\n\n"
    "tovik run 在这里记下上次运行失败的用例（lastfailed），供 --lf 与 --ff 使用。\n"
    "不要把这个目录提交到版本库；可以随时删除，或用 --cache-clear 清空。\n";

}  // namespace

void LastFailedPlugin::add_options(OptionParser& p) {
  using A = OptionDecl::Action;
  p.add({{"--lf", "--last-failed"}, "last_failed", A::StoreTrue, Value(false), "",
         "只运行上次失败的用例（上次没有失败的用例时运行全部）"});
  p.add({{"--ff", "--failed-first"}, "failed_first", A::StoreTrue, Value(false), "", "先运行上次失败的用例，再运行其余用例"});
  p.add({{"--cache-clear"}, "cache_clear", A::StoreTrue, Value(false), "", "运行前清空 .tovik_cache 中记下的失败用例"});
}

void LastFailedPlugin::configure(Config& config) {
  dir_ = config.rootdir / ".tovik_cache";
  last_failed_ = config.flag_option("last_failed");
  failed_first_ = config.flag_option("failed_first");
  clear_ = config.flag_option("cache_clear");
}

void LastFailedPlugin::on_session_start(const Config&) {
  failed_.clear();
  if (clear_) {
    changed_ = true;
    return;
  }
  const fs::path file = dir_ / kFile;
  std::error_code ec;
  if (!fs::exists(file, ec)) return;
  try {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) throw OSError("无法读取");
    const Value v = parse_json(text.str());
    if (!v.is_dict()) throw ValueError("内容不是 JSON 对象");
    for (const auto& [id, _] : v.as_dict()) failed_.insert(id);
  } catch (const std::exception& e) {
    failed_.clear();
    log::get("tovik.cache")->warn("忽略无法读取的失败用例记录 {}：{}", file.string(), e.what());
  }
}

void LastFailedPlugin::select(std::vector<const TestCase*>& chosen, int& deselected) {
  const auto failed_before = [this](const TestCase* tc) { return failed_.count(tc->nodeid) > 0; };
  if (last_failed_ && std::any_of(chosen.begin(), chosen.end(), failed_before)) {
    const auto kept = std::stable_partition(chosen.begin(), chosen.end(), failed_before);
    deselected += static_cast<int>(chosen.end() - kept);
    chosen.erase(kept, chosen.end());
  } else if (failed_first_) {
    std::stable_partition(chosen.begin(), chosen.end(), failed_before);
  }
}

void LastFailedPlugin::on_case_finish(const CaseReport& report) {
  if (report.rerun) return;  // the final attempt decides
  const std::string& id = report.test->nodeid;
  const bool failed = report.outcome == Outcome::Failed || report.outcome == Outcome::Error;
  changed_ = (failed ? failed_.insert(id).second : failed_.erase(id) > 0) || changed_;
}

void LastFailedPlugin::on_session_finish(const Summary&) {
  if (!changed_) return;
  Dict entries;
  for (const std::string& id : failed_) entries.set(id, Value(true));
  std::error_code ec;
  const bool fresh = !fs::exists(dir_, ec);
  // the record helps the next run; a folder that cannot take it must not fail this one
  if (fresh && !fs::create_directories(dir_, ec)) {
    log::get("tovik.cache")->warn("无法创建 {}，失败用例没有记下：{}", dir_.string(), ec.message());
    return;
  }
  if (fresh) {
    replace_file(dir_ / ".gitignore", kGitignore, false);
    replace_file(dir_ / "README.md", kReadme, false);
  }
  if (const int error = replace_file(dir_ / kFile, dump_json(Value(std::move(entries))) + "\n", false))
    log::get("tovik.cache")->warn("无法写入 {}，失败用例没有记下：{}", (dir_ / kFile).string(), std::strerror(error));
  changed_ = false;
}

}  // namespace tovik::runner
