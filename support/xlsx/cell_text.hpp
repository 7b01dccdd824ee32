// Turning the text stored in a cell into what it means: Excel's _xHHHH_ escapes in strings, and
// numbers as int or float.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "support/base/value.hpp"

namespace tovik::xlsx {

// A cell holds at most this many characters (code points, as libxlsxwriter and other writers
// count them). Stored with _xHHHH_ escapes, one character takes up to fourteen bytes (a surrogate
// pair), so stored text longer than kMaxStoredCellBytes cannot fit a cell whatever it holds.
inline constexpr std::size_t kMaxCellChars = 32767;
inline constexpr std::size_t kMaxStoredCellBytes = 14 * kMaxCellChars;

// The number of characters (code points) of UTF-8 text.
std::size_t char_count(std::string_view text);

// "内容超过 32767 个字符的上限", for the messages about a cell or string that holds more.
std::string too_long_for_a_cell();

// Excel writes characters XML cannot carry (control characters such as CR) as _xHHHH_, a UTF-16
// unit in hex, and a literal "_x" sequence as _x005F_x. Decodes those to UTF-8; a lone surrogate
// becomes U+FFFD.
std::string decode_escapes(std::string_view text);

// Without XML whitespace (space, tab, CR, LF) at either end.
std::string_view trim_space(std::string_view s);

// A whole number within int64 range as an int ("3", "3.0", "1E3"), any other finite number as a
// float. Surrounding whitespace is allowed. Empty when the text is not a number.
std::optional<Value> parse_number(std::string_view text);

}  // namespace tovik::xlsx
