// One keyword call of a case step, as both case formats make it: a report step with the keyword
// and its arguments (secrets masked as the keyword shows them), then the call itself.
#pragma once

#include <string>

#include "core/base_keyword.hpp"

namespace tovik::runner {

// Calls keyword on kw with args (variables already resolved) inside a report step titled title.
// An unknown keyword fails inside that step, so the report shows where; the keyword's own error
// passes on unchanged.
void call_keyword(BaseKeyWord& kw, const std::string& keyword, const List& args, const std::string& title);

}  // namespace tovik::runner
