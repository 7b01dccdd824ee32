// Small text helpers shared across the system.
#pragma once

#include <string_view>

namespace tovik {

// Without white space (blank, tab, line breaks, form feed, vertical tab) at either end.
std::string_view strip_space(std::string_view s);

}  // namespace tovik
