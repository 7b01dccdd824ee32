// What both case formats need of the keyword library: loading it when a run starts, and one
// keyword call of a case step (a report step with the keyword and its arguments, secrets masked
// as the keyword shows them, then the call itself).
#pragma once

#include <string>

#include "core/base_keyword.hpp"
#include "runner/case.hpp"

namespace tovik::runner {

// Loads the keyword library, so its configuration defaults are those of this run's pytest.ini. A
// setting that cannot be read is not an error here: it fails every case that needs the library,
// with its message.
void load_keywords_for_run();

// Calls keyword on kw with args (variables already resolved) inside a report step titled title.
// An unknown keyword fails inside that step, so the report shows where; the keyword's own error
// passes on unchanged. Arguments beyond those the keyword declares are ignored, as keywords do,
// but not in silence: a warning naming `where` and the ignored values goes to the case's log.
void call_keyword(BaseKeyWord& kw, const std::string& keyword, const List& args, const std::string& title,
                  const std::string& where);

// A warning in the case's log when kind selects no keyword class of its own ("web", "app",
// "api", "all" in any letter case): the case then runs with all keywords, as the selection
// does by design, but a typo should not pass unnoticed.
void warn_unknown_kind(const CaseMarks& marks);

}  // namespace tovik::runner
