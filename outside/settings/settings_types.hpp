// Kinds the new-driver keyword declares for its parameters: driver names, http(s) URLs and the
// "not set" marker.
#pragma once

#include <optional>
#include <string_view>

namespace tovik::settings {

enum class DriverEnum { chrome, firefox, android, ios };

// Case-insensitive; surrounding blanks are ignored. nullopt for any other name.
std::optional<DriverEnum> parse_driver(std::string_view name);
std::string_view to_string(DriverEnum driver);

// An http or https URL with a host (optional user info and numeric port).
bool is_http_url(std::string_view text);

// Stands for a parameter the case left out, as opposed to one set to an empty text.
constexpr std::string_view NOT_SET = "NotSet";

}  // namespace tovik::settings
