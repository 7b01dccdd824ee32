#include "runner/plugins/allure_plugin.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>

#include <sys/utsname.h>
#include <unistd.h>

#include "outside/allure/model_wire.hpp"
#include "outside/allure/run_files.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/atomic_file.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "version.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

namespace {

// Asked once per run, not once per case.
const std::string& host_name() {
  static const std::string name = [] {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return std::string("localhost");
    return std::string(buf);
  }();
  return name;
}

std::string platform_name() {
  struct utsname u {};
  if (::uname(&u) != 0) return "Linux";
  return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

const std::string& thread_name() {
  static const std::string name = std::to_string(::getpid()) + "-MainThread";
  return name;
}

}  // namespace

void AllurePlugin::add_options(OptionParser& p) {
  p.add({{"--alluredir"}, "allure_report_dir", OptionDecl::Action::Store, Value(), "DIR",
         "在指定目录中生成 allure 报告的原始结果"});
  p.add({{"--clean-alluredir"}, "clean_alluredir", OptionDecl::Action::StoreTrue, Value(false), "",
         "运行前清空 allure 结果目录"});
}

void AllurePlugin::configure(Config& config) {
  dir_ = config.text_option("allure_report_dir");
  clean_ = config.flag_option("clean_alluredir");
  worker_ = config.worker;
}

namespace {

// Cleaning removes only allure's own files, but a directory that is the suite itself is refused
// outright: there a mistyped --alluredir most likely points at the user's work.
void check_cleanable(const fs::path& dir, const Config& config) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return;  // a new directory holds nothing of the user's
  const fs::path target = fs::canonical(dir, ec);
  for (const fs::path& own : {fs::current_path(ec), config.rootdir}) {
    // equivalent: the same directory by any spelling ("./", "sub/..", a link)
    std::error_code same_ec;
    if (!own.empty() && fs::equivalent(target, own, same_ec))
      throw UsageError("--clean-alluredir 拒绝清理 " + dir.string() + "：它是运行所在的目录，请为 allure 结果另设一个目录");
  }
  fs::recursive_directory_iterator it(target, fs::directory_options::skip_permission_denied, ec), end;
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    if (!it->is_regular_file(ec)) continue;
    for (Plugin* p : config.plugins)
      if (p->collects(it->path()))
        throw UsageError("--clean-alluredir 拒绝清理 " + dir.string() + "：其中有用例文件 " +
                         it->path().lexically_relative(target).generic_string());
  }
}

}  // namespace

void AllurePlugin::on_session_start(const Config& config) {
  if (dir_.empty() || worker_) return;
  root_name_ = config.rootdir.filename().string();
  if (root_name_.empty()) root_name_ = config.rootdir.generic_string();  // "/"
  if (clean_) check_cleanable(dir_, config);
  // a results directory that cannot take files is refused before the first case, not found
  // out after the last
  if (const int error = probe_writable_dir(dir_))
    throw UsageError("--alluredir " + dir_ + " 无法写入: " + std::strerror(error));
  writer_ = std::make_unique<allure::BackgroundWriter>(dir_);
  if (clean_) writer_->writer().clean();
}

void AllurePlugin::on_case_start(const TestCase& tc) {
  if (!records()) return;
  recording_.reset();
  recorded_ = allure::TestResult{};
  recorded_.name = tc.name;
  recorded_.fullName = tc.nodeid;
  recorded_.start = allure::now_ms();
  // attachments are written while the case runs, not all at its end; a worker keeps them for the
  // controller
  recording_ = std::make_unique<allure::ScopedTest>(recorded_, writer_.get());
  if (worker_) recorded_.labels.push_back({"thread", std::to_string(::getpid()) + "-gw" + std::to_string(worker_)});
}

allure::TestResult AllurePlugin::to_result(const CaseReport& r, allure::TestResult recorded,
                                            const std::string& root_name) {
  allure::TestResult res = std::move(recorded);
  const TestCase& tc = *r.test;
  res.name = tc.name;
  res.fullName = tc.nodeid;
  res.start = r.start_ms;
  res.stop = std::max(r.stop_ms, r.start_ms);
  res.stage = allure::Stage::Finished;
  switch (r.outcome) {
    case Outcome::Passed: res.status = allure::Status::Passed; break;
    case Outcome::Skipped: res.status = allure::Status::Skipped; break;
    case Outcome::Failed:
    case Outcome::Error:
      res.status = r.error_kind == "AssertionError" ? allure::Status::Failed : allure::Status::Broken;
      break;
  }
  res.statusDetails.flaky = r.flaky;
  if (r.outcome == Outcome::Skipped) {
    res.statusDetails.message = r.message;
  } else if (r.outcome != Outcome::Passed) {
    res.statusDetails.message = r.error_line();
    std::string trace;
    if (r.step) trace = r.step->where() + ": " + r.step->call();
    else trace = tc.file + " (" + r.when + ")";
    res.statusDetails.trace = trace;
  }

  // The Suites tab reads like a test plan: directory, then case file, then the case itself.
  const fs::path file(tc.file);
  const std::string dir = file.parent_path().generic_string();
  const std::string parent = dir.empty() || dir == "." ? root_name : dir;
  const std::string suite = file.filename().string();
  res.labels.push_back({"parentSuite", parent});
  res.labels.push_back({"suite", suite});
  // The Packages tab splits a package at its dots: the directories become its levels and the case
  // file one more, its own dot made an underscore so test_a.xlsx and test_a.yaml stay apart.
  std::string package = parent;
  std::replace(package.begin(), package.end(), '/', '.');
  std::string file_part = suite;
  std::replace(file_part.begin(), file_part.end(), '.', '_');
  package += "." + file_part;
  res.labels.push_back({"package", package});
  res.labels.push_back({"testClass", package});
  res.labels.push_back({"testMethod", tc.name});
  for (const auto& t : tc.marks.tags) res.labels.push_back({"tag", t});
  res.labels.push_back({"host", host_name()});
  // a worker's recording names its own process
  if (std::none_of(res.labels.begin(), res.labels.end(), [](const allure::Label& l) { return l.name == "thread"; }))
    res.labels.push_back({"thread", thread_name()});
  res.labels.push_back({"framework", "tovik"});
  res.labels.push_back({"language", "cpp"});
  if (!r.log.empty()) res.attachments.push_back({"log", "text/plain", "", r.log});
  return res;
}

void AllurePlugin::on_case_finish(const CaseReport& report) {
  recording_.reset();  // closes steps a failure left open
  if (!writer_) return;
  if (const auto it = report.carried.find(name()); it != report.carried.end()) {
    try {
      recorded_ = allure::from_wire(it->second);
    } catch (const std::exception& e) {
      log::pytest()->error("{} 的步骤记录无法读取，结果中没有步骤: {}", report.test->nodeid, e.what());
      recorded_ = allure::TestResult{};
    }
  }
  allure::TestResult result = to_result(report, std::move(recorded_), root_name_);
  if (!report.browser.empty()) browsers_.insert(report.browser);
  if (result.status == allure::Status::Broken && !report.error_kind.empty()) broken_kinds_.insert(report.error_kind);
  writer_->submit(std::move(result));
}

std::string AllurePlugin::carry() {
  if (!worker_ || !records()) return {};
  allure::redact_secrets(recorded_);  // the controller does not know this process's secrets
  std::string bytes = allure::to_wire(recorded_);
  recorded_ = allure::TestResult{};
  return bytes;
}

void AllurePlugin::write_run_files() {
  std::string base_url;
  try {
    base_url = settings::tovik_api().text("base_url");
  } catch (const std::exception&) {
    // a setting that cannot be read has failed the API cases already; the overview goes without it
  }
  allure::ResultsWriter& w = writer_->writer();
  w.write_environment(allure::environment_entries(kTovikVersion, platform_name(), browsers_, base_url));
  w.put("executor.json", allure::executor_json(allure::process_env));
  w.put("categories.json", allure::categories_json(broken_kinds_));
}

void AllurePlugin::on_session_finish(const Summary&) {
  // an interrupted case never finishes: stop recording it
  recording_.reset();
  if (!writer_) return;
  std::vector<std::string> failures = writer_->finish();
  try {
    write_run_files();
  } catch (const std::exception& e) {
    failures.push_back(std::string("environment.properties, executor.json, categories.json: ") + e.what());
  }
  for (const std::string& f : failures) log::pytest()->error("写入 allure 结果失败 {}", f);
  if (!failures.empty()) throw OSError("allure 结果没有全部写入 " + dir_ + "，第一个失败的是 " + failures.front());
}

}  // namespace tovik::runner
