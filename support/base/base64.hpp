// Standard Base64 (RFC 4648, with padding): mail parts and robot signatures go out in it, and
// WebDriver screenshots come back in it.
#pragma once

#include <string>
#include <string_view>

namespace tovik {

std::string base64_encode(std::string_view bytes);
// Line breaks and other whitespace are skipped; ValueError for any other character outside the
// alphabet, for padding that is not at the end, or for a length that does not come out whole.
std::string base64_decode(std::string_view text);

}  // namespace tovik
