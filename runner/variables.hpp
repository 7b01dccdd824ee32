// Variable references in case data: "{name}" in workbook rows and keyword arguments, "${name}" in
// YAML cases.
#pragma once

#include <functional>
#include <string>

#include "support/base/value.hpp"

namespace tovik {
class Exchange;
}

namespace tovik::runner {

// Looks a name up; null when the name is unknown.
using VariableLookup = std::function<const Value*(const std::string& name)>;

// The names a case of the run can refer to: the run's template globals first, then the saved
// variables of its variable file. The exchanger must outlive the lookup.
VariableLookup run_variables(const Exchange& exchanger);

// A whole text "{name}" becomes the variable's value with its kind; inside a longer text each
// "{name}" is replaced by the value's text form. Unknown names, and braces that do not enclose a
// plain name (JSON texts such as {"a": 1}), stay as written. Lists and mappings are resolved
// item by item; other values are returned unchanged.
Value resolve(const Value& arg, const VariableLookup& lookup);

// YAML templates: "${name}" anywhere in a text. A whole text "${name}" becomes the value with its
// kind; inside a longer text the value's text form stands in. "$${" is a literal "${". Unlike
// "{name}", an unknown name is an error (KeyError naming it): the "$" says a reference was meant.
// ValueError for a "${" that is not closed. Lists and mappings are expanded item by item (mapping
// keys stay as written); other values are returned unchanged.
Value expand_templates(const Value& v, const VariableLookup& lookup);

}  // namespace tovik::runner
