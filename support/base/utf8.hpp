// UTF-8 helpers shared by the parsers.
#pragma once

#include <cstdint>
#include <string>

namespace tovik {

// Appends the UTF-8 encoding of one code point.
void append_utf8(std::string& out, std::uint32_t cp);

}  // namespace tovik
