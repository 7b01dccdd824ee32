#include "runner/plugins/junit.hpp"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <unistd.h>

#include "runner/options.hpp"
#include "support/base/atomic_file.hpp"
#include "support/base/errors.hpp"
#include "support/base/secrets.hpp"
#include "support/base/log.hpp"
#include "support/base/text.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

namespace {

std::string seconds_text(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", s);
  return buf;
}

// "cases/test_login.xlsx" -> "cases.test_login"
std::string classname_of(const std::string& file) {
  std::string c = file;
  if (c.size() > 5 && c.compare(c.size() - 5, 5, ".xlsx") == 0) c.resize(c.size() - 5);
  else if (c.size() > 5 && c.compare(c.size() - 5, 5, ".yaml") == 0) c.resize(c.size() - 5);
  else if (c.size() > 4 && c.compare(c.size() - 4, 4, ".yml") == 0) c.resize(c.size() - 4);
  for (auto& ch : c)
    if (ch == '/') ch = '.';
  return c;
}

}  // namespace

void JunitPlugin::add_options(OptionParser& p) {
  p.add({{"--junitxml", "--junit-xml"}, "xmlpath", OptionDecl::Action::Store, Value(""), "PATH",
         "在指定路径生成 junit-xml 格式的报告文件"});
}

void JunitPlugin::configure(Config& config) {
  path_ = config.text_option("xmlpath");
  const std::string name = config.ini("junit_suite_name");
  if (!name.empty()) suite_name_ = name;
}

void JunitPlugin::on_session_start(const Config&) {
  if (!path_.empty()) {
    // checked now: a report that cannot be written must not be found missing after the run
    std::error_code ec;
    if (fs::is_directory(path_, ec)) throw UsageError("--junitxml " + path_ + " 无法写入: 这是一个目录");
    if (const int error = probe_writable_dir(fs::path(path_).parent_path()))
      throw UsageError("--junitxml " + path_ + " 无法写入: " + std::strerror(error));
  }
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  timestamp_ = buf;
}

void JunitPlugin::on_collect_error(const CollectError& error) {
  if (path_.empty()) return;  // no report asked for: nothing to keep
  Entry e;
  e.classname = classname_of(error.file);
  e.name = fs::path(error.file).filename().string();
  e.file = error.file;
  e.kind = "error";
  e.message = "collection failure";
  e.type = "CollectError";
  e.text = error.message;
  entries_.push_back(std::move(e));
}

void JunitPlugin::on_case_finish(const CaseReport& r) {
  if (r.rerun) return;  // only the final attempt is the case's outcome
  if (path_.empty()) return;  // no report asked for: the logs of all cases need not pile up
  Entry e;
  e.classname = classname_of(r.test->file);
  e.name = r.test->name;
  e.file = r.test->file;
  e.seconds = r.seconds();
  e.out = r.log;
  switch (r.outcome) {
    case Outcome::Passed: break;
    case Outcome::Skipped:
      e.kind = "skipped";
      e.message = r.message;
      break;
    case Outcome::Failed:
    case Outcome::Error:
      e.kind = r.outcome == Outcome::Error || r.error_kind != "AssertionError" ? "error" : "failure";
      e.message = r.error_line();
      e.type = r.error_kind;
      e.text = r.step ? r.step->where() + ": " + r.step->call() + "\n" + r.error_line()
                      : r.error_line();
      break;
  }
  entries_.push_back(std::move(e));
}

void JunitPlugin::on_session_finish(const Summary& s) {
  if (path_.empty()) return;
  int failures = 0, errors = 0, skipped = 0;
  for (auto& e : entries_) {
    // masked before the XML is made, so what is left stays well-formed
    for (std::string* t : {&e.classname, &e.name, &e.message, &e.text, &e.out}) secrets::redact_in_place(*t);
    failures += e.kind == "failure";
    errors += e.kind == "error";
    skipped += e.kind == "skipped";
  }
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const std::string counts = "tests=\"" + std::to_string(entries_.size()) + "\" failures=\"" + std::to_string(failures) +
                             "\" errors=\"" + std::to_string(errors) + "\" skipped=\"" + std::to_string(skipped) +
                             "\" time=\"" + seconds_text(s.seconds) + "\"";
  std::string x = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  x += "<testsuites name=\"" + markup_escape(suite_name_) + "\" " + counts + ">\n";
  x += "  <testsuite name=\"" + markup_escape(suite_name_) + "\" " + counts + " timestamp=\"" + timestamp_ + "\" hostname=\"" +
       markup_escape(host) + "\">\n";
  for (const auto& e : entries_) {
    x += "    <testcase classname=\"" + markup_escape(e.classname) + "\" name=\"" + markup_escape(e.name) + "\" file=\"" + markup_escape(e.file) +
         "\" time=\"" + seconds_text(e.seconds) + "\"";
    if (e.kind.empty() && e.out.empty()) {
      x += "/>\n";
      continue;
    }
    x += ">\n";
    if (e.kind == "skipped") {
      x += "      <skipped message=\"" + markup_escape(e.message) + "\"/>\n";
    } else if (!e.kind.empty()) {
      x += "      <" + e.kind + " message=\"" + markup_escape(e.message) + "\" type=\"" + markup_escape(e.type) + "\">" + markup_escape(e.text) +
           "</" + e.kind + ">\n";
    }
    if (!e.out.empty()) x += "      <system-out>" + markup_escape(e.out) + "</system-out>\n";
    x += "    </testcase>\n";
  }
  x += "  </testsuite>\n</testsuites>\n";
  const fs::path p(path_);
  std::error_code ec;
  if (!p.parent_path().empty()) fs::create_directories(p.parent_path(), ec);
  if (const int error = replace_file(p, x, false)) throw OSError("JUnit XML " + path_ + " 无法写入: " + std::strerror(error));
}

}  // namespace tovik::runner
