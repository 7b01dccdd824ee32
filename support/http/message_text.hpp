// Requests and responses as people read them in logs and reports, with the values of sensitive
// headers masked, and response bodies decoded to text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/http/request.hpp"
#include "support/http/response.hpp"

namespace tovik::http {

// What a masked value shows.
inline constexpr std::string_view kMasked = "******";
// Longest part of a body that logs and reports show.
inline constexpr std::size_t kBodyShown = 64 * 1024;

// Authorization, Proxy-Authorization, Cookie, Set-Cookie, and every name holding "token",
// "secret" or "key", without regard to case.
bool is_sensitive_header(std::string_view name);
// Makes a value that the masking rules cover (a sensitive header's, a cookie's) a secret of the
// run (support/base/secrets.hpp), so it is masked by value wherever else it shows up; with it the
// credentials of a "Scheme credentials" value ("Bearer abc" also makes "abc" one).
void add_credential(std::string_view value);

// Headers({'Name': 'value', ...}); Headers([('Name', 'v1'), ('Name', 'v2')]) when a name repeats.
// Sensitive values are masked.
std::string headers_text(const HeaderList& headers);
// The body as text when it is UTF-8 without NUL bytes, else as a bytes literal b'\x89PNG...';
// past kBodyShown bytes it is cut, with a note of the whole size.
std::string body_text(std::string_view content);
// body_text of the message's body, made at the first call and kept with the message.
const std::string& body_text(const Request& request);
const std::string& body_text(const Response& response);

// The request line, the headers one per line (masked), a blank line and the body text.
std::string request_text(const Request& request);
// The status line, the URL, the headers one per line (masked), a blank line and the body text.
std::string response_text(const Response& response);

// A curl command line that sends the same request, for a tester to run again by hand: method,
// URL and headers (sensitive values masked, Host and Content-Length left to curl), and the body
// when it is text; a binary or cut body is named in a comment line instead. Quoted for a POSIX
// shell.
std::string curl_command(const Request& request);

// Body bytes as UTF-8 text, by the charset of the Content-Type (UTF-8 when none is named);
// bytes that do not decode become U+FFFD.
std::string decode_text(std::string_view content, std::string_view content_type);

}  // namespace tovik::http
