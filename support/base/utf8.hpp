// UTF-8 helpers shared by the parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tovik {

// Appends the UTF-8 encoding of one code point.
void append_utf8(std::string& out, std::uint32_t cp);

// Length of the well-formed UTF-8 sequence that starts at s[i], or 0 when none does (overlong
// forms, surrogates and code points past U+10FFFF are not well formed).
std::size_t utf8_sequence_length(std::string_view s, std::size_t i);
bool is_valid_utf8(std::string_view s);
// s with each byte that starts no well-formed sequence replaced by U+FFFD.
std::string valid_utf8(std::string_view s);

}  // namespace tovik
