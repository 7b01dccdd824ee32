#include "runner/plugins/yaml_plugin.hpp"

#include <cmath>
#include <ctime>
#include <exception>

#include "keywords/api_keyword.hpp"
#include "keywords/class_by_type.hpp"
#include "outside/allure/step.hpp"
#include "runner/case_clock.hpp"
#include "runner/interrupt.hpp"
#include "runner/plugins/keyword_call.hpp"
#include "runner/plugins/yaml_case.hpp"
#include "runner/variables.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/value_json.hpp"
#include "yamlcase/assertion.hpp"
#include "yamlcase/exchange.hpp"

namespace tovik::runner {

namespace fs = std::filesystem;

namespace {

// Keyword arguments as a workbook cell would hold them: mappings and lists as JSON text.
Value as_argument(const Value& v) { return v.is_dict() || v.is_list() ? Value(dump_json(v)) : v; }

const Value* field(const Dict& d, const char* name) {
  const Value* v = d.find(name);
  return v && !v->is_none() ? v : nullptr;
}

// One case while it runs: its keyword object, its variables and where its file lies.
class CaseRun {
 public:
  CaseRun(const TestCase& tc, CaseContext& ctx, BaseKeyWord& kw)
      : tc_(tc), ctx_(ctx), kw_(kw), ex_(*ctx.exchanger), run_vars_(run_variables(ex_)),
        dir_(fs::path(tc.file).parent_path()) {
    lookup_ = [this](const std::string& name) -> const Value* {
      if (const Value* v = vars_.find(name)) return v;
      return run_vars_(name);
    };
  }

  // The case's variables, each able to refer to the ones before it and to the run's.
  void set_variables() {
    for (const auto& [name, value] : tc_.variables) {
      try {
        vars_.set(name, expand_templates(value, lookup_));
      } catch (const Error& e) {
        throw RetoldError(e.kind(), "文件 " + tc_.file + ", 用例变量 " + name + ": " + e.what());
      }
    }
  }

  // Runs one step; between steps a stop request ends the case, except in teardown.
  void step(const CaseStep& s, bool stoppable) {
    if (stoppable) {
      check_interrupt();
      check_case_clock(ctx_);
    }
    stoppable_ = stoppable;
    ctx_.current_step = &s;
    std::string title = s.number + " ";
    if (s.request.empty()) title += s.keyword;
    else title += "请求 " + str(s.args.at(0)) + " " + str(s.args.at(1));
    if (!s.description.empty()) title += " " + s.description;
    if (!s.request.empty()) {
      allure::step(title, {{"method", str(s.args.at(0))}, {"url", str(s.args.at(1))}},
                   [&] { with_failure_evidence(kw_, [&] { request(s); }); });
      return;
    }
    List args;
    args.reserve(s.args.size());
    for (const auto& a : s.args) args.push_back(as_argument(resolve(expand(a, s), lookup_)));
    call_keyword(kw_, s.keyword, args, title, s.where());
  }

 private:
  // Templates of a step; an unknown name or a broken "${" names the step.
  Value expand(const Value& v, const CaseStep& s) const {
    try {
      return expand_templates(v, lookup_);
    } catch (const Error& e) {
      throw RetoldError(e.kind(), s.where() + ": " + e.what());
    }
  }

  ApiKeyWord& api() {
    if (auto* api = dynamic_cast<ApiKeyWord*>(&kw_)) return *api;
    throw TypeError("request 步骤需要接口关键字，而用例的 type 是 " + tc_.marks.kw_type + "（请改为 api 或 all）");
  }

  void request(const CaseStep& s) {
    ApiKeyWord& kw = api();
    const Value req = expand(s.request.at("request"), s);
    const Dict& r = req.as_dict();
    const auto text = [&](const char* name) {
      const Value& v = r.at(name);
      if (!v.is_str() && !v.is_number()) throw TypeError("request." + std::string(name) + " 应为文本，实际为 " + repr(v));
      return str(v);
    };
    const auto entries = [&](const char* name) -> Dict {
      const Value* v = field(r, name);
      if (!v) return {};
      if (!v->is_dict()) throw TypeError("request." + std::string(name) + " 应为映射，实际为 " + repr(*v));
      return v->as_dict();
    };
    const std::string method = text("method"), url = text("url");
    http::RequestParts parts = kw.pending_parts();
    parts.headers.update(entries("headers"));
    parts.cookies.update(entries("cookies"));
    parts.params.update(entries("params"));
    if (const Value* j = r.find("json")) parts.json = *j;
    if (const Value* d = field(r, "data")) {
      if (d->is_str()) parts.content = d->as_str();
      else if (d->is_dict()) parts.data = *d;
      else throw TypeError("request.data 应为映射（表单）或文本（原样发送的正文），实际为 " + repr(*d));
    }
    for (const auto& [name, path] : entries("files")) {
      if (!path.is_str()) throw TypeError("request.files." + name + " 应为文件路径，实际为 " + repr(path));
      const fs::path p(path.as_str());
      // relative paths are taken from the case file's folder, as parametrize files are
      parts.files.push_back({name, http::UploadFile::open((p.is_absolute() ? p : dir_ / p).string())});
    }
    double timeout = 0;
    if (const Value* t = field(r, "timeout")) {
      if (!t->is_number() || !(t->as_float() > 0) || !std::isfinite(t->as_float()))
        throw ValueError("request.timeout 应为大于 0 的秒数，实际为 " + repr(*t));
      timeout = t->as_float();
    }

    const Value* retry = field(s.request, "retry");
    const auto attempt = [&] {
      kw.send(method, url, parts, timeout);
      if (const Value* e = field(s.request, "extract")) extract(*e, kw.current_response(), s);
      if (retry) check(retry->as_dict().at("until"), s);
    };
    if (!retry) {
      attempt();
    } else {
      const Dict& rd = retry->as_dict();
      const std::int64_t times = field(rd, "times") ? rd.at("times").as_int() : 3;
      const double interval = field(rd, "interval") ? rd.at("interval").as_float() : 1.0;
      for (std::int64_t n = 1;; ++n) {
        try {
          allure::step("第 " + std::to_string(n) + " 次尝试", attempt);
          break;
        } catch (const AssertionError& e) {
          if (n >= times)
            throw AssertionError("发送 " + std::to_string(times) + " 次后仍未满足 retry.until: " + std::string(e.what()));
          log::pytest()->info("第 {} 次尝试未满足 retry.until（{}），{} 秒后重试", n, e.what(), format_float(interval));
          pause(interval);
          if (stoppable_) {
            check_interrupt();
            check_case_clock(ctx_);
          }
        }
      }
    }
    if (const Value* v = field(s.request, "validate")) check(*v, s);
    if (const Value* t = field(s.request, "text_asserts"))
      for (const auto& [name, rule] : t->as_dict()) new_assertion(name, expand(rule, s), ex_.globals);
  }

  void extract(const Value& rules, const http::Response& resp, const CaseStep& s) {
    for (const auto& [name, written] : rules.as_dict()) {
      const Value rule = expand(written, s);
      if (!rule.is_list()) {
        ex_.extract(resp, name, "json", rule, Value(0));
        continue;
      }
      const List& r = rule.as_list();
      const std::string attr = str(r.at(0));
      if (r.size() == 1) ex_.extract_member(resp, name, attr);
      else ex_.extract(resp, name, attr, r[1], r.size() > 2 ? r[2] : Value(0));
    }
  }

  void check(const Value& checks, const CaseStep& s) {
    for (const auto& [kind, pairs] : checks.as_dict()) Assertion(kind, expand(pairs, s));
  }

  const TestCase& tc_;
  CaseContext& ctx_;
  BaseKeyWord& kw_;
  Exchange& ex_;
  VariableLookup run_vars_, lookup_;
  Dict vars_;
  fs::path dir_;
  bool stoppable_ = true;
};

}  // namespace

void YamlPlugin::on_session_start(const Config&) { load_keywords_for_run(); }

bool YamlPlugin::collects(const fs::path& file) const {
  const std::string name = file.filename().string();
  const std::string ext = file.extension().string();
  return name.rfind("test_", 0) == 0 && name.size() > 5 + ext.size() && (ext == ".yaml" || ext == ".yml");
}

std::vector<TestCase> YamlPlugin::collect(const fs::path& file, const std::string& shown_path) {
  return read_yaml_cases(file, shown_path);
}

void YamlPlugin::run_case(const TestCase& tc, CaseContext& ctx) {
  warn_unknown_kind(tc.marks);
  const KeywordClassRef& cls = get_class_by_type(Value(tc.marks.kw_type));
  std::unique_ptr<BaseKeyWord> kw = cls.create(ctx.exchanger, Value(ctx.usefixtures));
  const BrowserNote browser(*kw, ctx.browser);
  CaseRun run(tc, ctx, *kw);

  std::exception_ptr failure;
  const CaseStep* failed_at = nullptr;
  try {
    run.set_variables();
    for (const auto& s : tc.setup) run.step(s, true);
    for (const auto& s : tc.steps) run.step(s, true);
    check_case_clock(ctx);  // the last step too may have run past it
  } catch (...) {
    failure = std::current_exception();
    failed_at = ctx.current_step;
  }

  // teardown runs whatever happened, every step of it; its first failure is kept
  std::exception_ptr cleanup_failure;
  const CaseStep* cleanup_at = nullptr;
  for (const auto& s : tc.teardown) {
    try {
      run.step(s, false);
    } catch (...) {
      if (!cleanup_failure) {
        cleanup_failure = std::current_exception();
        cleanup_at = ctx.current_step;
      }
    }
  }
  try {
    ctx.exchanger->dump();
  } catch (...) {
    if (!cleanup_failure) cleanup_failure = std::current_exception();
  }

  ctx.current_step = failure ? failed_at : cleanup_at;
  if (!failure && !cleanup_failure) {
    ctx.current_step = nullptr;
    return;
  }
  if (!failure) std::rethrow_exception(cleanup_failure);
  if (cleanup_failure) {
    std::string cleanup;
    try {
      std::rethrow_exception(cleanup_failure);
    } catch (const std::exception& e) {
      cleanup = (cleanup_at ? cleanup_at->where() + ": " : std::string()) + describe_error(e);
    }
    // the case's own failure stays first; the clean-up's is told beside it
    try {
      std::rethrow_exception(failure);
    } catch (const Interrupted&) {
      log::pytest()->error("后置步骤失败: {}", cleanup);
      throw;
    } catch (const std::exception& e) {
      throw RetoldError(error_kind(e), std::string(e.what()) + "\n后置步骤也失败: " + cleanup);
    }
  }
  std::rethrow_exception(failure);
}

}  // namespace tovik::runner
