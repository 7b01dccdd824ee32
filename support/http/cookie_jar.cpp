#include "support/http/cookie_jar.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "support/base/text.hpp"

namespace tovik::http {

namespace {

// Only blanks and tabs: the white space HTTP allows around cookie parts; other bytes are the value's.
std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool is_ip_literal(const std::string& host) {
  if (!host.empty() && host.front() == '[') return true;
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; });
}

bool domain_matches(const std::string& host, const std::string& domain) {
  if (host == domain) return true;
  if (is_ip_literal(host) || host.size() <= domain.size()) return false;
  return host.compare(host.size() - domain.size(), domain.size(), domain) == 0 && host[host.size() - domain.size() - 1] == '.';
}

bool path_matches(const std::string& request_path, const std::string& cookie_path) {
  if (request_path == cookie_path) return true;
  if (request_path.compare(0, cookie_path.size(), cookie_path) != 0) return false;
  return cookie_path.back() == '/' || request_path[cookie_path.size()] == '/';
}

// The directory of the request path: what a cookie without Path belongs to.
std::string default_path(const std::string& path) {
  if (path.empty() || path[0] != '/') return "/";
  const auto last = path.rfind('/');
  return last == 0 ? "/" : path.substr(0, last);
}

}  // namespace

std::optional<std::pair<std::string, std::string>> set_cookie_pair(std::string_view header) {
  const std::string_view first = header.substr(0, header.find(';'));
  const auto eq = first.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view name = trim_blanks(first.substr(0, eq));
  if (name.empty()) return std::nullopt;
  std::string_view value = trim_blanks(first.substr(eq + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return std::make_pair(std::string(name), std::string(value));
}

void CookieJar::store(const UrlParts& url, const std::vector<std::string>& set_cookie, std::time_t now) {
  for (const auto& header : set_cookie) {
    const auto pair = set_cookie_pair(header);
    if (!pair) continue;
    Cookie c;
    c.name = pair->first;
    c.value = pair->second;
    c.domain = url.host;
    c.path = default_path(url.path);
    bool rejected = false;
    std::optional<std::time_t> max_age_expiry, expires_attr;
    std::string_view rest(header);
    auto semi = rest.find(';');
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    while (!rest.empty()) {
      semi = rest.find(';');
      const std::string_view attr = rest.substr(0, semi);
      rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      const auto eq = attr.find('=');
      const std::string key = ascii_lower(trim_blanks(attr.substr(0, eq)));
      const std::string_view val = eq == std::string_view::npos ? std::string_view() : trim_blanks(attr.substr(eq + 1));
      if (key == "domain" && !val.empty()) {
        std::string d = ascii_lower(val);
        while (!d.empty() && d.front() == '.') d.erase(0, 1);
        if (d.empty() || !domain_matches(url.host, d)) rejected = true;
        else {
          c.domain = d;
          c.host_only = d == url.host;
        }
      } else if (key == "path") {
        c.path = !val.empty() && val.front() == '/' ? std::string(val) : default_path(url.path);
      } else if (key == "secure") {
        c.secure = true;
      } else if (key == "max-age") {
        long long secs = 0;
        const auto [p, ec] = std::from_chars(val.data(), val.data() + val.size(), secs);
        if (ec == std::errc() && p == val.data() + val.size())
          max_age_expiry = secs <= 0 ? std::time_t(0) : now + static_cast<std::time_t>(std::min<long long>(secs, 400LL * 86400 * 365));
      } else if (key == "expires") {
        const std::string text(val);
        const time_t t = curl_getdate(text.c_str(), nullptr);
        if (t != -1) expires_attr = t;
      }
    }
    if (rejected) continue;
    c.expires = max_age_expiry ? max_age_expiry : expires_attr;
    const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& o) {
      return o.name == c.name && o.domain == c.domain && o.path == c.path;
    });
    const bool expired = c.expires && *c.expires <= now;
    if (same != cookies_.end()) {
      if (expired) {
        cookies_.erase(same);
      } else {
        c.order = same->order;  // a replaced cookie keeps its age
        *same = std::move(c);
      }
    } else if (!expired) {
      c.order = next_order_++;
      cookies_.push_back(std::move(c));
    }
  }
}

Pairs CookieJar::for_request(const UrlParts& url, std::time_t now) const {
  std::vector<const Cookie*> chosen;
  for (const auto& c : cookies_) {
    if (c.expires && *c.expires <= now) continue;
    if (c.host_only ? url.host != c.domain : !domain_matches(url.host, c.domain)) continue;
    if (!path_matches(url.path, c.path)) continue;
    if (c.secure && url.scheme != "https") continue;
    chosen.push_back(&c);
  }
  std::stable_sort(chosen.begin(), chosen.end(), [](const Cookie* a, const Cookie* b) {
    if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
    return a->order < b->order;
  });
  Pairs out;
  for (const Cookie* c : chosen) out.emplace_back(c->name, c->value);
  return out;
}

}  // namespace tovik::http
