// Checks that YAML cases write: a table of value pairs compared one way, and a template variable
// against a text-field rule of the response validator. A failed check is an AssertionError
// carrying the case's own message.
#pragma once

#include <string>

#include "outside/yamlplugin/globals.hpp"
#include "support/base/value.hpp"

namespace tovik {

class Assertion {
 public:
  // assert_data maps a message to [a, b, ...] (further elements ignored). Every pair is checked in
  // the mapping's order, each in its own report step "执行断言", by assert_type: "equals" (a == b),
  // "not_equals"/"not equals", "in" (a is an element of a list, a key of a mapping or a part of a
  // text b), "not_in"/"not in". The first pair that fails ends the construction with an
  // AssertionError carrying its message; any other assert_type fails at the first pair.
  // assert_data none is an AttributeError, another non-mapping a TypeError; a pair that is not a
  // list of at least two elements is a TypeError or IndexError, raised before its step opens.
  Assertion(const std::string& assert_type, const Value& assert_data);
};

// Checks the template variable assert_name of globals (or, when there is none, the name itself)
// in its text form against yamlplugin::TextField::form_asserts(assert_name, assert_data). A failure
// is an AssertionError with the rule's msg, or a message quoting the value and the rule.
void new_assertion(const std::string& assert_name, const Value& assert_data,
                   const yamlplugin::TemplateGlobals& globals);

}  // namespace tovik
