// One JSON POST to a group robot's webhook. The address's query carries the robot's key or access
// token, so messages show addresses without it.
#pragma once

#include <string>
#include <string_view>

#include "support/base/value.hpp"

namespace tovik::sender {

// Seconds a robot has to answer, connection included.
inline constexpr double kRobotTimeout = 2.0;

// scheme://host[:port]/path of a URL, without user name, password, query and fragment; "******"
// for a text that is not "scheme://..." at all, since that may be a bare key.
std::string shown_url(std::string_view url);

// POSTs the JSON text of body to url, params added to the query after the address's own pairs
// (each value percent-quoted once, as the HTTP client quotes query values), within kRobotTimeout.
// Returns the response status; the body is not read.
// Throws http::InvalidURL naming the setting (tovik.<setting>) when url is not an http(s) URL;
// http::ConnectError, http::TimeoutError or http::TransportError when no answer came. No message
// holds the query of url.
int post_json(const std::string& url, const Value& body, const Dict& params, std::string_view setting);

}  // namespace tovik::sender
