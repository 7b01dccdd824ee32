#include "runner/plugins/keyword_call.hpp"

#include "keywords/library.hpp"
#include "outside/allure/step.hpp"
#include "support/base/printable.hpp"

namespace tovik::runner {

void load_keywords_for_run() {
  try {
    load_keyword_library();
  } catch (const std::exception&) {
    // the cases that need the library fail with the setting's message
  }
}

void call_keyword(BaseKeyWord& kw, const std::string& keyword, const List& args, const std::string& title) {
  const std::string member = "_key_" + keyword;
  const List shown = kw.has_member(member) ? kw.member(member).entry().shown(args) : args;
  allure::step(title, {{"keyword", keyword}, {"args", repr(Value::tuple(shown))}}, [&] { kw.member(member)(args); });
}

}  // namespace tovik::runner
