// Small text helpers shared across the system. Case rules are ASCII only: header names, option
// values and keyword kinds are ASCII, and UTF-8 bytes of other scripts pass through unchanged.
#pragma once

#include <string>
#include <string_view>

namespace tovik {

// Without white space (blank, tab, line breaks, form feed, vertical tab) at either end.
std::string_view strip_space(std::string_view s);

// A copy with A-Z turned into a-z (ascii_lower) or a-z into A-Z (ascii_upper).
std::string ascii_lower(std::string_view s);
std::string ascii_upper(std::string_view s);

// Equal, or holding needle, when ASCII letters are compared without their case.
bool iequals(std::string_view a, std::string_view b);
bool icontains(std::string_view haystack, std::string_view needle);

// Text safe inside an XML or HTML element or quoted attribute: & < > " ' escaped, bytes that are
// not UTF-8 replaced by U+FFFD, and the characters that XML 1.0 forbids (controls below 0x20 but
// tab, LF and CR; U+FFFE, U+FFFF) left out.
std::string markup_escape(std::string_view text);

// Every byte but the unreserved ones of URLs (letters, digits, "-._~") as %XX, upper-case hex:
// a path segment or query value that means exactly its text.
std::string percent_encode(std::string_view s);

}  // namespace tovik
