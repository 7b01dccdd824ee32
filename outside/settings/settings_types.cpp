#include "outside/settings/settings_types.hpp"

#include <cctype>
#include <string>

#include "support/base/text.hpp"

namespace tovik::settings {
namespace {

bool is_host_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' ||
         c == '%';
}

bool is_ipv6_char(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
}

}  // namespace

std::optional<DriverEnum> parse_driver(std::string_view name) {
  name = strip_space(name);
  for (DriverEnum d : {DriverEnum::chrome, DriverEnum::firefox, DriverEnum::android, DriverEnum::ios})
    if (iequals(name, to_string(d))) return d;
  return std::nullopt;
}

std::string_view to_string(DriverEnum driver) {
  switch (driver) {
    case DriverEnum::chrome: return "chrome";
    case DriverEnum::firefox: return "firefox";
    case DriverEnum::android: return "android";
    case DriverEnum::ios: return "ios";
  }
  return "unknown";
}

bool is_http_url(std::string_view text) {
  const std::size_t colon = text.find("://");
  if (colon == std::string_view::npos) return false;
  const std::string_view scheme = text.substr(0, colon);
  if (!iequals(scheme, "http") && !iequals(scheme, "https")) return false;
  for (char c : text)
    if (std::isspace(static_cast<unsigned char>(c)) || std::iscntrl(static_cast<unsigned char>(c)))
      return false;

  std::string_view authority = text.substr(colon + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);

  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    for (char c : authority.substr(1, close - 1))
      if (!is_ipv6_char(c)) return false;
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (port.empty()) return false;
    }
  } else {
    if (const std::size_t p = authority.rfind(':'); p != std::string_view::npos) {
      host = authority.substr(0, p);
      port = authority.substr(p + 1);
      if (port.empty()) return false;
    }
    if (host.empty() || host.front() == '.' || host.front() == '-') return false;
    for (char c : host)
      if (!is_host_char(c)) return false;
  }
  if (port.size() > 5) return false;
  for (char c : port)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  if (!port.empty() && std::stoi(std::string(port)) > 65535) return false;
  return true;
}

}  // namespace tovik::settings
