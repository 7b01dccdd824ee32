// What both case formats need of the keyword library: loading it when a run starts, and one
// keyword call of a case step (a report step with the keyword and its arguments, secrets masked
// as the keyword shows them, then the call itself).
#pragma once

#include <functional>
#include <string>

#include "core/base_keyword.hpp"
#include "runner/case.hpp"

namespace tovik::runner {

// Loads the keyword library, so its configuration defaults are those of this run's pytest.ini. A
// setting that cannot be read is not an error here: it fails every case that needs the library,
// with its message.
void load_keywords_for_run();

// Runs fn (a case step's work, inside its report step); when it fails, kw's failure evidence is
// attached to that step before the error passes on unchanged. A stop request passes on as is.
void with_failure_evidence(BaseKeyWord& kw, const std::function<void()>& fn);

// Calls keyword on kw with args (variables already resolved) inside a report step titled title.
// An unknown keyword fails inside that step, so the report shows where; the keyword's own error
// passes on unchanged, with the failure's evidence in the step. Arguments beyond those the
// keyword declares are ignored, as keywords do, but not in silence: a warning naming `where` and
// the ignored values goes to the case's log.
void call_keyword(BaseKeyWord& kw, const std::string& keyword, const List& args, const std::string& title,
                  const std::string& where);

// "chrome 120.0.6099.224": the browser kw's driver drives; empty without a driver or for an app.
std::string browser_of(BaseKeyWord& kw) noexcept;

// Notes in out, however the case ends, the browser its keywords drove last (the report's
// environment names it).
class BrowserNote {
 public:
  BrowserNote(BaseKeyWord& kw, std::string& out) : kw_(kw), out_(out) {}
  ~BrowserNote() { out_ = browser_of(kw_); }
  BrowserNote(const BrowserNote&) = delete;
  BrowserNote& operator=(const BrowserNote&) = delete;

 private:
  BaseKeyWord& kw_;
  std::string& out_;
};

// A warning in the case's log when kind selects no keyword class of its own ("web", "app",
// "api", "all" in any letter case): the case then runs with all keywords, as the selection
// does by design, but a typo should not pass unnoticed.
void warn_unknown_kind(const CaseMarks& marks);

}  // namespace tovik::runner
