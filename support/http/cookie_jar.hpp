// The cookies servers set, kept for later requests as a browser session keeps them: domain and
// path matching, expiry (Expires, Max-Age), Secure. Host-only unless Domain names a parent.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/http/url.hpp"

namespace tovik::http {

struct Cookie {
  std::string name, value;
  std::string domain;  // lower case, no leading dot
  bool host_only = true;
  std::string path = "/";
  bool secure = false;
  std::optional<std::time_t> expires;  // none: until the client goes away
  std::uint64_t order = 0;             // creation order, for the Cookie header
};

// Name and value of a Set-Cookie header; nullopt when it has no "name=" part.
std::optional<std::pair<std::string, std::string>> set_cookie_pair(std::string_view header);

class CookieJar {
 public:
  // Takes in the Set-Cookie header values of a response to url; cookies for other domains, and
  // malformed ones, are ignored. A cookie that has expired removes the one it names.
  void store(const UrlParts& url, const std::vector<std::string>& set_cookie, std::time_t now = std::time(nullptr));
  // name=value pairs for a request to url, longest path first, then oldest first.
  Pairs for_request(const UrlParts& url, std::time_t now = std::time(nullptr)) const;
  const std::vector<Cookie>& cookies() const { return cookies_; }
  void clear() { cookies_.clear(); }

 private:
  std::vector<Cookie> cookies_;
  std::uint64_t next_order_ = 0;
};

}  // namespace tovik::http
