#include "cli/check.hpp"

#include <algorithm>
#include <iostream>
#include <set>

#include "core/locator.hpp"
#include "keywords/class_by_type.hpp"
#include "runner/main.hpp"
#include "runner/plugins/keyword_call.hpp"
#include "runner/report.hpp"
#include "runner/variable_store.hpp"
#include "runner/variables.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/value_json.hpp"
#include "yamlcase/exchange.hpp"

namespace tovik::cli {

using namespace tovik::runner;

namespace {

std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// Up to three known names within a third of the name's length, closest first.
std::vector<std::string> closest(const std::string& name, const std::vector<std::string>& known) {
  std::vector<std::pair<std::size_t, std::string>> scored;
  const std::size_t limit = std::max<std::size_t>(2, name.size() / 3);
  for (const auto& k : known)
    if (const std::size_t d = edit_distance(name, k); d <= limit) scored.emplace_back(d, k);
  std::sort(scored.begin(), scored.end());
  std::vector<std::string> out;
  for (std::size_t i = 0; i < scored.size() && i < 3; ++i) out.push_back(scored[i].second);
  return out;
}

// The names an argument refers to: {name} in workbook texts, ${name} in YAML ones.
std::vector<std::string> references(const Value& arg, bool yaml) {
  std::vector<std::string> names;
  const VariableLookup record = [&](const std::string& name) -> const Value* {
    names.push_back(name);
    static const Value stand_in("");
    return &stand_in;  // known to the template, so ${name} does not fail here
  };
  try {
    if (yaml) expand_templates(arg, record);
    else resolve(arg, record);
  } catch (const std::exception&) {
    // an unclosed ${ is a mistake of its own; the YAML reader reports it
  }
  return names;
}

// What every request saves (ApiKeyWord::send runs save_code and save_body).
const std::vector<std::string> kSavedBySending = {"resp_code", "resp_body"};

class CaseChecker {
 public:
  CaseChecker(const TestCase& tc, const std::function<bool(const std::string&)>& saved, std::set<std::string>& known,
              std::vector<Finding>& out)
      : tc_(tc), saved_(saved), out_(out), known_(known) {}

  void run() {
    const std::set<std::string> before = known_;
    for (const auto& [name, _] : tc_.variables) known_.insert(name);
    check_steps();
    // a case's own variables are its own; what it saved stays for the cases after it
    for (const auto& [name, _] : tc_.variables)
      if (!before.count(name)) known_.erase(name);
  }

 private:
  void check_steps() {
    const KeywordClassRef* cls = nullptr;
    try {
      cls = &get_class_by_type(Value(tc_.marks.kw_type));
    } catch (const std::exception& e) {
      return add(nullptr, true, e.what());
    }
    for (const auto* list : {&tc_.setup, &tc_.steps, &tc_.teardown})
      for (const CaseStep& s : *list) step(*cls, s);
  }

  void add(const CaseStep* s, bool error, std::string message) {
    out_.push_back(Finding{s ? s->file : tc_.file, s ? s->sheet : std::string(), s ? s->row : 0, error, std::move(message)});
  }

  void refer(const CaseStep& s, const Value& arg) {
    const bool yaml = s.sheet.empty();
    for (const std::string& name : references(arg, yaml)) {
      // {3} in a regular expression is a count, not a name
      if (name.empty() || (name[0] >= '0' && name[0] <= '9')) continue;
      if (known_.count(name) || saved_(name) || !warned_.emplace(&s, name).second) continue;
      add(&s, false, "引用的变量 " + name + " 不在变量文件中，前面的步骤也没有保存它");
    }
  }

  void step(const KeywordClassRef& cls, const CaseStep& s) {
    if (s.keyword == "request") {
      // what it extracts its own checks may use; sending saves the response as send_http does
      if (const Value* e = s.request.find("extract"); e && e->is_dict())
        for (const auto& [name, _] : e->as_dict()) known_.insert(name);
      known_.insert(kSavedBySending.begin(), kSavedBySending.end());
      return refer(s, Value(s.request));
    }
    const KeywordEntry* entry = cls.keywords().find(s.keyword);
    if (!entry) {
      std::string message = "关键字类 " + cls.name + " 中没有关键字 " + s.keyword;
      const auto near = closest(s.keyword, cls.all_keyword());
      if (!near.empty()) {
        message += "（是不是 ";
        for (std::size_t i = 0; i < near.size(); ++i) message += (i ? "、" : "") + near[i];
        message += "？）";
      }
      return add(&s, true, message);
    }
    const auto& params = entry->params;
    for (std::size_t i = 0; i < params.size(); ++i) {
      const Param& p = params[i];
      if (i >= s.args.size()) {
        if (!p.default_value && !p.default_fn) add(&s, true, "关键字 " + s.keyword + " 缺少必需的参数 " + p.name);
        continue;
      }
      const Value& arg = s.args[i];
      if (!references(arg, s.sheet.empty()).empty()) {
        refer(s, arg);  // its kind is known only when the run fills it in
      } else {
        try {
          entry->accept(i, arg);
          if (p.name == "locator" && arg.is_str()) TovikLocator(arg.as_str());
        } catch (const std::exception& e) {
          add(&s, true, e.what());
        }
      }
      // what a save keyword names is known to the steps after it
      if (p.name == "var_name" && arg.is_str()) known_.insert(arg.as_str());
    }
    if (s.keyword == "send_http") known_.insert(kSavedBySending.begin(), kSavedBySending.end());
    if (s.args.size() > params.size())
      add(&s, false, "关键字 " + s.keyword + " 只接受 " + std::to_string(params.size()) + " 个参数，多出的 " +
                         std::to_string(s.args.size() - params.size()) + " 个会被忽略");
  }

  const TestCase& tc_;
  const std::function<bool(const std::string&)>& saved_;
  std::vector<Finding>& out_;
  // names saved so far in the run: a serial run hands them from case to case in this order
  std::set<std::string>& known_;
  std::set<std::pair<const CaseStep*, std::string>> warned_;  // one warning per name and step
};

}  // namespace

std::string Finding::line() const {
  std::string out = file;
  if (!sheet.empty()) out += ":" + sheet;
  if (row > 0) out += ":" + std::to_string(row);
  return out + ": " + (error ? "错误" : "警告") + ": " + message;
}

std::vector<Finding> check_cases(const std::vector<runner::TestCase>& cases, const std::function<bool(const std::string&)>& saved) {
  std::vector<Finding> out;
  std::set<std::string> known;
  for (const TestCase& tc : cases) {
    if (tc.broken) {
      out.push_back(Finding{tc.file, {}, 0, true, *tc.broken});
      continue;
    }
    CaseChecker(tc, saved, known, out).run();
  }
  return out;
}

int check_main(const std::vector<std::string>& args, const std::string& format) {
  try {
    if (format != "text" && format != "json") throw UsageError("--format 应为 text 或 json，实际为 " + repr_text(format));
    auto prepared = prepare_config(args);
    Config& c = prepared->config;
    // the library's own log lines (a locator's error line) are not findings
    log::set_sinks({});
    load_keywords_for_run();
    std::vector<Finding> findings;
    const Collected collected = collect(c, [&](const CollectError& e) {
      findings.push_back(Finding{e.file, {}, 0, true, e.message});
    });
    const VariableStore store(c);
    std::function<bool(const std::string&)> saved = [](const std::string&) { return false; };
    VariableLookup lookup;
    try {
      lookup = run_variables(*store.exchanger());
      saved = [&lookup](const std::string& name) { return lookup(name) != nullptr; };
    } catch (const std::exception& e) {
      findings.push_back(Finding{"变量文件", {}, 0, true, e.what()});
    }
    for (Finding& f : check_cases(collected.cases, saved)) findings.push_back(std::move(f));
    log::use_last_resort();
    const bool errors = std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.error; });
    if (format == "json") {
      Json list = Json::array();
      for (const Finding& f : findings)
        list.push_back({{"file", f.file}, {"sheet", f.sheet}, {"row", f.row}, {"level", f.error ? "error" : "warning"},
                        {"message", f.message}});
      std::cout << list.dump(2) << "\n";
    } else {
      for (const Finding& f : findings) std::cout << f.line() << "\n";
      std::cout << "检查了 " << collected.cases.size() << " 个用例: " << std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return f.error; })
                << " 个错误, " << std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return !f.error; }) << " 个警告\n";
    }
    return errors ? kTestsFailed : kOk;
  } catch (const UsageError& e) {
    log::use_last_resort();
    std::cerr << "ERROR: " << e.what() << "\n";
    return kUsageError;
  } catch (const std::exception& e) {
    log::use_last_resort();
    std::cerr << "INTERNALERROR> " << describe_error(e) << "\n";
    return kInternalError;
  }
}

}  // namespace tovik::cli
