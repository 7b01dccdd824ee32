// Printable form (a literal of the value, as log lines show it) and text form (texts unquoted).
#pragma once

#include <string>
#include <string_view>

#include "support/base/value.hpp"

namespace tovik {

// 'abc', "it's", 1, 0.1, None, True, ('a',), [1, 2], {'k': 'v'}
std::string repr(const Value& v);
// Like repr, but a text is itself.
std::string str(const Value& v);

// A text in quotes with escapes: single quotes unless it holds ' and no ".
std::string repr_text(std::string_view s);
// Shortest digits that read back to d; fixed notation for exponents -4..15, else 1e+16 style.
std::string format_float(double d);

}  // namespace tovik
