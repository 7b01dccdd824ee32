#include "support/http/message_text.hpp"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "support/base/printable.hpp"
#include "support/base/secrets.hpp"
#include "support/base/text.hpp"
#include "support/base/utf8.hpp"

namespace tovik::http {

namespace {

std::string bytes_literal(std::string_view s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "b'";
  for (unsigned char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += static_cast<char>(c);
        } else {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        }
    }
  }
  return out + "'";
}

std::string charset_of(std::string_view content_type) {
  const std::string ct = ascii_lower(content_type);
  const auto at = ct.find("charset=");
  if (at == std::string::npos) return "";
  std::string cs = ct.substr(at + 8);
  cs = cs.substr(0, cs.find_first_of("; \t"));
  if (cs.size() >= 2 && cs.front() == '"' && cs.back() == '"') cs = cs.substr(1, cs.size() - 2);
  return cs;
}

}  // namespace

bool is_sensitive_header(std::string_view name) {
  return iequals(name, "authorization") || iequals(name, "proxy-authorization") || iequals(name, "cookie") ||
         iequals(name, "set-cookie") || icontains(name, "token") || icontains(name, "secret") || icontains(name, "key");
}

void add_credential(std::string_view value) {
  value = strip_space(value);
  secrets::add(value);
  if (const auto blank = value.find_last_of(' '); blank != std::string_view::npos) secrets::add(value.substr(blank + 1));
}

std::string headers_text(const HeaderList& headers) {
  bool repeats = false;
  for (std::size_t i = 0; i < headers.size() && !repeats; ++i)
    for (std::size_t j = i + 1; j < headers.size() && !repeats; ++j) repeats = iequals(headers[i].first, headers[j].first);
  std::string out = repeats ? "Headers([" : "Headers({";
  for (std::size_t i = 0; i < headers.size(); ++i) {
    const auto& [name, value] = headers[i];
    const std::string shown = repr_text(is_sensitive_header(name) ? kMasked : std::string_view(value));
    if (i) out += ", ";
    if (repeats) out += '(' + repr_text(name) + ", " + shown + ")";
    else out += repr_text(name) + ": " + shown;
  }
  out += repeats ? "])" : "})";
  return out;
}

std::string body_text(std::string_view content) {
  std::string_view part = content.substr(0, kBodyShown);
  const bool text = part.find('\0') == std::string_view::npos && is_valid_utf8(content);
  std::string out;
  if (text) {
    // cut on a character boundary
    while (part.size() < content.size() && !part.empty() && (static_cast<unsigned char>(content[part.size()]) & 0xC0) == 0x80)
      part.remove_suffix(1);
    out = std::string(part);
  } else {
    out = bytes_literal(part);
  }
  if (part.size() < content.size())
    out += " ...（正文共 " + std::to_string(content.size()) + " 字节，只显示前 " + std::to_string(part.size()) + " 字节）";
  return out;
}

const std::string& body_text(const Request& request) {
  if (!request.shown_body) request.shown_body = body_text(request.content);
  return *request.shown_body;
}

const std::string& body_text(const Response& response) {
  if (!response.shown_body) response.shown_body = body_text(response.content);
  return *response.shown_body;
}

namespace {

void append_header_lines(std::string& out, const HeaderList& headers) {
  for (const auto& [k, v] : headers) {
    out += k;
    out += ": ";
    out += is_sensitive_header(k) ? kMasked : std::string_view(v);
    out += '\n';
  }
}

}  // namespace

std::string request_text(const Request& request) {
  std::string out = request.method + " " + request.url + "\n";
  append_header_lines(out, request.headers);
  out += '\n';
  return out += body_text(request);
}

std::string response_text(const Response& response) {
  std::string out = std::to_string(response.status_code);
  if (!response.reason.empty()) out += " " + response.reason;
  out += "\n" + response.url + "\n";
  append_header_lines(out, response.headers);
  out += '\n';
  return out += body_text(response);
}

namespace {

std::string shell_quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

}  // namespace

std::string curl_command(const Request& request) {
  std::string out;
  const bool text_body = request.content.size() <= kBodyShown && request.content.find('\0') == std::string::npos &&
                         is_valid_utf8(request.content);
  if (!request.content.empty() && !text_body)
    out += "# 正文（" + std::to_string(request.content.size()) + " 字节）不是可以写进命令的文本，没有写入\n";
  out += "curl";
  if (request.method == "HEAD") out += " --head";
  else if (request.method != "GET" || !request.content.empty()) out += " -X " + request.method;
  out += " " + shell_quoted(request.url);
  for (const auto& [name, value] : request.headers) {
    if (iequals(name, "Host") || iequals(name, "Content-Length")) continue;
    out += " \\\n  -H " + shell_quoted(name + ": " + (is_sensitive_header(name) ? std::string(kMasked) : value));
  }
  if (!request.content.empty() && text_body) out += " \\\n  --data-binary " + shell_quoted(request.content);
  return out + "\n";
}

std::string decode_text(std::string_view content, std::string_view content_type) {
  const std::string cs = charset_of(content_type);
  if (cs.empty() || cs == "utf-8" || cs == "utf8" || cs == "us-ascii" || cs == "ascii") return valid_utf8(content);
  iconv_t cd = ::iconv_open("UTF-8", cs.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return valid_utf8(content);  // a charset iconv does not know
  std::string out;
  out.reserve(content.size() * 2);
  char* in = const_cast<char*>(content.data());
  std::size_t in_left = content.size();
  char buf[8192];
  while (in_left > 0) {
    char* o = buf;
    std::size_t o_left = sizeof buf;
    const std::size_t rc = ::iconv(cd, &in, &in_left, &o, &o_left);
    out.append(buf, sizeof buf - o_left);
    if (rc == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // an invalid or cut-off sequence: one replacement character, then go on after the byte
      out += "\xEF\xBF\xBD";
      ++in;
      --in_left;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  ::iconv_close(cd);
  return out;
}

}  // namespace tovik::http
