#include "support/http/url.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/http/errors.hpp"

namespace tovik::http {

namespace {

struct UrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

struct CurlText {
  char* p = nullptr;
  ~CurlText() { curl_free(p); }
  std::string str() const { return p ? std::string(p) : std::string(); }
};

bool is_hex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

const char kHex[] = "0123456789ABCDEF";

void append_escaped(std::string& out, unsigned char c) {
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

std::size_t scheme_length(std::string_view url) {
  if (url.empty() || !std::isalpha(static_cast<unsigned char>(url[0]))) return 0;
  std::size_t i = 1;
  while (i < url.size() && (std::isalnum(static_cast<unsigned char>(url[i])) || url[i] == '+' || url[i] == '-' || url[i] == '.'))
    ++i;
  return url.substr(i, 3) == "://" ? i : 0;
}

// Percent-encodes what may not stand in the path or query; "%" stays when it starts an escape.
std::string encode_unsafe(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '%') {
      if (i + 2 < s.size() && is_hex(s[i + 1]) && is_hex(s[i + 2]))
        out += '%';
      else
        append_escaped(out, c);
    } else if (c >= 0x80 || c == ' ' || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
               c == '{' || c == '|' || c == '}') {
      append_escaped(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void check_characters(std::string_view url) {
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7f) throw InvalidURL("URL 中含有控制字符: " + repr_text(url));
}

UrlHandle parse(const std::string& url, std::string_view shown) {
  UrlHandle u(curl_url());
  if (!u) throw InvalidURL("无法解析 URL: " + repr_text(shown));
  const CURLUcode rc = curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0);
  if (rc != CURLUE_OK) throw InvalidURL("URL 不合法: " + repr_text(shown) + "（" + curl_url_strerror(rc) + "）");
  return u;
}

void fill_parts(CURLU* u, UrlParts& parts) {
  CurlText scheme, host, port, path;
  curl_url_get(u, CURLUPART_SCHEME, &scheme.p, 0);
  curl_url_get(u, CURLUPART_HOST, &host.p, 0);
  curl_url_get(u, CURLUPART_PORT, &port.p, CURLU_NO_DEFAULT_PORT);
  curl_url_get(u, CURLUPART_PATH, &path.p, 0);
  parts.scheme = ascii_lower(scheme.str());
  parts.host = ascii_lower(host.str());
  parts.port = port.str();
  parts.path = path.str().empty() ? "/" : path.str();
}

// An absolute http(s) URL with a host, its path and query made safe, the fragment dropped.
std::string normalise(std::string_view url, std::string_view shown, UrlParts* parts = nullptr) {
  const std::size_t scheme_len = scheme_length(url);
  if (scheme_len == 0) throw InvalidURL("URL 缺少 http:// 或 https:// 协议: " + repr_text(shown));
  const std::string scheme = ascii_lower(url.substr(0, scheme_len));
  if (scheme != "http" && scheme != "https")
    throw InvalidURL("不支持的 URL 协议 " + repr_text(scheme) + "，只能是 http 或 https: " + repr_text(shown));
  const std::size_t authority = scheme_len + 3;
  const std::size_t rest = url.find_first_of("/?#", authority);
  const std::string_view host_part = url.substr(authority, rest == std::string_view::npos ? std::string_view::npos : rest - authority);
  if (host_part.empty()) throw InvalidURL("URL 缺少主机名: " + repr_text(shown));
  std::string_view tail = rest == std::string_view::npos ? std::string_view() : url.substr(rest);
  if (const auto hash = tail.find('#'); hash != std::string_view::npos) tail = tail.substr(0, hash);
  const std::string candidate = std::string(url.substr(0, authority)) + std::string(host_part) + encode_unsafe(tail);
  UrlHandle u = parse(candidate, shown);
  CurlText out;
  if (curl_url_get(u.get(), CURLUPART_URL, &out.p, 0) != CURLUE_OK) throw InvalidURL("URL 不合法: " + repr_text(shown));
  if (parts) fill_parts(u.get(), *parts);
  return out.str();
}

// base + url: the base without its query, its path ending in one "/", then url without its
// leading slashes.
std::string join(const std::string& safe_base, std::string_view url) {
  std::string joined = safe_base.substr(0, safe_base.find('?'));
  if (joined.empty() || joined.back() != '/') joined += '/';
  std::size_t skip = 0;
  while (skip < url.size() && url[skip] == '/') ++skip;
  joined += url.substr(skip);
  return joined;
}

}  // namespace

bool is_absolute_url(std::string_view url) { return scheme_length(url) > 0; }

void check_base_url(std::string_view base) { normalise_base_url(base); }

std::string normalise_base_url(std::string_view base) {
  if (base.empty()) return "";
  check_characters(base);
  return normalise(base, base);
}

std::string resolve_url(std::string_view base, std::string_view url) {
  UrlParts parts;
  check_characters(url);
  if (is_absolute_url(url)) return normalise(url, url);
  return resolve_url_parts(normalise_base_url(base), url, parts);
}

std::string resolve_url_parts(const std::string& normalised_base, std::string_view url, UrlParts& parts) {
  check_characters(url);
  if (is_absolute_url(url)) return normalise(url, url, &parts);
  if (normalised_base.empty()) throw InvalidURL("没有设置 base url，无法发送到相对地址 " + repr_text(url));
  return normalise(join(normalised_base, url), url, &parts);
}

std::string form_encode(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 2);
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '*' || c == '-' || c == '.' || c == '_') out += static_cast<char>(c);
    else if (c == ' ') out += '+';
    else append_escaped(out, c);
  }
  return out;
}

std::string form_decode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') out += ' ';
    else if (s[i] == '%' && i + 2 < s.size() && is_hex(s[i + 1]) && is_hex(s[i + 2])) {
      out += static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string encode_pairs(const Pairs& pairs) {
  std::string out;
  for (const auto& [k, v] : pairs) {
    if (!out.empty()) out += '&';
    out += form_encode(k);
    out += '=';
    out += form_encode(v);
  }
  return out;
}

Pairs parse_query(std::string_view query) {
  Pairs out;
  for (std::size_t start = 0; start <= query.size();) {
    const auto amp = query.find('&', start);
    const std::string_view pair = query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    if (!pair.empty()) {
      const auto eq = pair.find('=');
      out.emplace_back(form_decode(pair.substr(0, eq)), eq == std::string_view::npos ? "" : form_decode(pair.substr(eq + 1)));
    }
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  return out;
}

std::string merge_query(const std::string& url, const Pairs& params) {
  if (params.empty()) return url;
  const auto q = url.find('?');
  const std::string head = url.substr(0, q);
  // (decoded name, encoded pair) for every pair of the query, in order
  std::vector<std::pair<std::string, std::string>> items;
  if (q != std::string::npos) {
    const std::string_view query = std::string_view(url).substr(q + 1);
    std::size_t start = 0;
    while (start <= query.size()) {
      const auto amp = query.find('&', start);
      const std::string_view pair = query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
      if (!pair.empty()) items.emplace_back(form_decode(pair.substr(0, pair.find('='))), std::string(pair));
      if (amp == std::string_view::npos) break;
      start = amp + 1;
    }
  }
  // Names given in params, first occurrence order, each with all its values.
  std::vector<std::string> names;
  for (const auto& [k, v] : params)
    if (std::find(names.begin(), names.end(), k) == names.end()) names.push_back(k);
  const auto encoded_for = [&](const std::string& name) {
    std::string out;
    for (const auto& [k, v] : params)
      if (k == name) {
        if (!out.empty()) out += '&';
        out += form_encode(k);
        out += '=';
        out += form_encode(v);
      }
    return out;
  };
  std::vector<std::string> out;
  std::vector<std::string> placed;
  for (const auto& [name, raw] : items) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      out.push_back(raw);
    } else if (std::find(placed.begin(), placed.end(), name) == placed.end()) {
      out.push_back(encoded_for(name));
      placed.push_back(name);
    }
  }
  for (const auto& name : names)
    if (std::find(placed.begin(), placed.end(), name) == placed.end()) out.push_back(encoded_for(name));
  std::string query;
  for (const auto& part : out) {
    if (part.empty()) continue;
    if (!query.empty()) query += '&';
    query += part;
  }
  return query.empty() ? head : head + "?" + query;
}

UrlParts split_url(const std::string& url) {
  UrlHandle u = parse(url, url);
  UrlParts parts;
  fill_parts(u.get(), parts);
  return parts;
}

std::string redirect_target(const std::string& from, std::string_view location) {
  check_characters(location);
  if (is_absolute_url(location)) return normalise(location, location);
  UrlHandle u = parse(from, from);
  std::string rel(location);
  if (const auto hash = rel.find('#'); hash != std::string::npos) rel.resize(hash);
  rel = encode_unsafe(rel);
  if (curl_url_set(u.get(), CURLUPART_URL, rel.c_str(), 0) != CURLUE_OK)
    throw InvalidURL("重定向地址不合法: " + repr_text(location));
  CurlText out;
  curl_url_get(u.get(), CURLUPART_URL, &out.p, 0);
  return normalise(out.str(), location);
}

}  // namespace tovik::http
