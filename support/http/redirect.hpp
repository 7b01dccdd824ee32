// What a redirect leads to when the client follows it: which method, body, headers and cookies
// the next request keeps.
#pragma once

#include <string>

#include "support/http/cookie_jar.hpp"
#include "support/http/request.hpp"

namespace tovik::http {

// Longest chain of redirects followed for one request.
inline constexpr int kMaxRedirects = 20;

// 301, 302, 303, 307 and 308 are followed (when the response names a Location).
bool is_redirect_status(int status);

// The request that a response with `status` and `location` to req leads to:
// - 303 (unless after HEAD), and 301 or 302 after POST, become GET without the body and without
//   Content-Length, Content-Type and Transfer-Encoding; otherwise method and body stay;
// - Authorization goes along only to the same origin, or from http to https on the same host with
//   the default ports; Host names the new origin when it changes;
// - the cookies given for req go along only to the same host; the Cookie header is made anew from
//   them and the jar's cookies for the new URL.
// TransportError naming method, URL and location when location cannot be resolved against req.
Request redirected(const Request& req, int status, const std::string& location, const CookieJar& jar);

}  // namespace tovik::http
