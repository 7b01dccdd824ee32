// Value <-> JSON (nlohmann ordered_json keeps key order, as our mappings do).
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "support/base/value.hpp"

namespace tovik {

using Json = nlohmann::ordered_json;

Value from_json(const Json& j);
// Tuples become arrays; objects cannot be written (TypeError). The tree holds no integer wider
// than 64 bits: such an int becomes the nearest float (dump_json writes it exactly).
Json to_json(const Value& v);

// Parses JSON text; malformed text is a JsonDecodeError with the position. Integers of any size
// are kept exactly.
Value parse_json(std::string_view text);
// Compact JSON text; non-ASCII characters stay as they are; ints of any size exactly.
std::string dump_json(const Value& v);

// Appends text as a JSON string literal, as dump_json writes texts: quotes, backslashes and
// control characters escaped (\n, \t, ... or \u00XX), other characters as they are, each byte
// that starts no well-formed UTF-8 sequence as U+FFFD, so the result is always valid JSON.
void append_json_text(std::string& out, std::string_view text);

}  // namespace tovik
