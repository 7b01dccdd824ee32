#include "runner/plugins/keyword_call.hpp"

#include "keywords/library.hpp"
#include "outside/allure/step.hpp"
#include "runner/interrupt.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/secrets.hpp"
#include "support/base/text.hpp"

namespace tovik::runner {

void load_keywords_for_run() {
  try {
    load_keyword_library();
  } catch (const std::exception&) {
    // the cases that need the library fail with the setting's message
  }
}

void warn_unknown_kind(const CaseMarks& marks) {
  const std::string kind = ascii_lower(marks.kw_type);
  if (kind == "web" || kind == "app" || kind == "api" || kind == "all") return;
  log::pytest()->warn("{}: 未知的用例类型 {}，将使用全部关键字（可用：web、app、api、all）",
                      marks.kw_type_at.empty() ? std::string("用例") : marks.kw_type_at, repr_text(marks.kw_type));
}

std::string browser_of(BaseKeyWord& kw) noexcept {
  try {
    if (!kw.driver) return {};
    const Dict caps = kw.driver->capabilities();
    const Value* name = caps.find("browserName");
    if (!name || !name->is_str() || name->as_str().empty()) return {};
    const Value* version = caps.find("browserVersion");
    return name->as_str() + (version && version->is_str() ? " " + version->as_str() : std::string());
  } catch (...) {
    return {};  // a driver that cannot say leaves the environment without it
  }
}

void with_failure_evidence(BaseKeyWord& kw, const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Interrupted&) {
    throw;  // a stop request is no failure to document
  } catch (const std::exception&) {
    kw.attach_failure_evidence();
    throw;
  }
}

void call_keyword(BaseKeyWord& kw, const std::string& keyword, const List& args, const std::string& title,
                  const std::string& where) {
  const std::string member = "_key_" + keyword;
  List shown = args;
  if (kw.has_member(member)) {
    const KeywordEntry& entry = kw.member(member).entry();
    shown = entry.shown(args);
    // what the keyword masks in its own lines is a secret everywhere else too (a failure message,
    // the failing row in the report, a later log line)
    for (std::size_t i = 0; i < args.size() && i < shown.size(); ++i)
      if (args[i].is_str() && !(shown[i] == args[i])) secrets::add(args[i].as_str());
    if (args.size() > entry.params.size()) {
      const List extra(shown.begin() + static_cast<std::ptrdiff_t>(entry.params.size()), shown.end());
      log::pytest()->warn("{}: 关键字 {} 只接受 {} 个参数，多出的 {} 被忽略", where, keyword, entry.params.size(),
                          repr(Value::tuple(extra)));
    }
  }
  allure::step(title, {{"keyword", keyword}, {"args", repr(Value::tuple(shown))}},
               [&] { with_failure_evidence(kw, [&] { kw.member(member)(args); }); });
}

}  // namespace tovik::runner
