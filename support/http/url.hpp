// URLs as the client sends them: a base URL joined with relative ones, unsafe characters
// percent-encoded, query parameters merged by name, and form encoding.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovik::http {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// "scheme://..." (any scheme): such a URL is used as given, everything else is relative.
bool is_absolute_url(std::string_view url);

// The absolute http(s) URL a request goes to. A relative url is appended to the base URL's path
// (one "/" between them, the base's query dropped); an absolute one ignores the base. Bytes that
// may not stand in a URL (non-ASCII, blanks, quotes, a stray "%") are percent-encoded, the
// fragment is dropped. InvalidURL when the result is not a well-formed http(s) URL.
std::string resolve_url(std::string_view base, std::string_view url);

// Checks that base is empty or a well-formed absolute http(s) URL; InvalidURL otherwise.
void check_base_url(std::string_view base);
// The form of a base URL that resolve_url_parts takes: InvalidURL as check_base_url.
std::string normalise_base_url(std::string_view base);

// Each name of params replaces every pair of that name already in the URL's query, in the
// place of its first occurrence; new names go at the end. Several pairs with one name repeat it.
std::string merge_query(const std::string& url, const Pairs& params);

// application/x-www-form-urlencoded: letters, digits and "*-._" stay, a blank becomes "+".
std::string form_encode(std::string_view s);
std::string form_decode(std::string_view s);
std::string encode_pairs(const Pairs& pairs);
// The decoded name/value pairs of a query (the text after "?"), in order; a pair without "="
// has an empty value.
Pairs parse_query(std::string_view query);

// The parts the client needs of an absolute URL (one that resolve_url returned).
struct UrlParts {
  std::string scheme;  // lower case
  std::string host;    // lower case; IPv6 in brackets
  std::string port;    // empty for the scheme's default
  std::string path;    // "/" at least, without the query
  std::string netloc() const { return port.empty() ? host : host + ":" + port; }
};
UrlParts split_url(const std::string& url);

// resolve_url with a base that normalise_base_url gave, also splitting the result: one parse.
std::string resolve_url_parts(const std::string& normalised_base, std::string_view url, UrlParts& parts);

// The target of a redirect: location resolved against the URL it came from.
std::string redirect_target(const std::string& from, std::string_view location);

}  // namespace tovik::http
