#include "support/http/request_parts.hpp"

#include <algorithm>
#include <cctype>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/base/value_json.hpp"
#include "support/http/multipart.hpp"

namespace tovik::http {

namespace {

// The text of one value; the name for the message is only put together when it is needed.
std::string text_of(const Value& v, std::string_view what, const std::string& key) {
  return v.is_str() ? v.as_str() : scalar_text(v, std::string(what) + " " + repr_text(key));
}

std::string cookie_line(const Pairs& cookies) {
  std::string out;
  for (const auto& [k, v] : cookies) {
    if (!out.empty()) out += "; ";
    out += k + "=" + v;
  }
  return out;
}

}  // namespace

bool is_token(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s) {
    if (std::isalnum(c)) continue;
    if (std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) == std::string_view::npos) return false;
  }
  return true;
}

void check_cookie(std::string_view name, std::string_view value) {
  if (!is_token(name)) throw ValueError("cookie 名称不合法: " + repr_text(name));
  for (unsigned char c : value)
    if (c < 0x20 || c == 0x7f || c == ';' || c == '"' || c == '\\')
      throw ValueError("cookie " + repr_text(name) + " 的值含有不能出现在 Cookie 中的字符: " + repr_text(value));
}

void check_header(std::string_view name, std::string_view value) {
  if (!is_token(name)) throw ValueError("请求头名称不合法: " + repr_text(name));
  for (unsigned char c : value)
    if (c == '\r' || c == '\n' || c == '\0')
      throw ValueError("请求头 " + repr_text(name) + " 的值含有换行或 NUL 字符: " + repr_text(value));
}

std::string scalar_text(const Value& v, std::string_view what) {
  switch (v.kind()) {
    case Value::Kind::Str: return v.as_str();
    case Value::Kind::Int: return v.int_text();
    case Value::Kind::Float: return format_float(v.as_float());
    case Value::Kind::Bool: return v.as_bool() ? "true" : "false";
    case Value::Kind::None: return "";
    default: break;
  }
  throw TypeError(std::string(what) + " 的值应为文本、数字或布尔值，实际为 " + v.type_name() + ": " + repr(v));
}

void check_scalars(const Value& v, std::string_view what, bool lists, bool cookie) {
  if (!v.is_dict()) throw TypeError(std::string(what) + "应为 JSON 对象，实际为 " + v.type_name() + ": " + repr(v));
  for (const auto& [k, val] : v.as_dict()) {
    const std::string where = std::string(what) + " " + repr_text(k);
    if (lists && val.is_sequence()) {
      for (const auto& item : val.as_list()) scalar_text(item, where);
    } else {
      const std::string text = scalar_text(val, where);
      if (cookie) check_cookie(k, text);
      else if (!lists) check_header(k, text);
    }
  }
}

Pairs pairs_of(const Dict& d, std::string_view what, bool lists) {
  Pairs out;
  for (const auto& [k, v] : d) {
    if (lists && v.is_sequence()) {
      for (const auto& item : v.as_list()) out.emplace_back(k, text_of(item, what, k));
    } else {
      out.emplace_back(k, text_of(v, what, k));
    }
  }
  return out;
}

Pairs overlay(Pairs base, const Pairs& top) {
  std::vector<std::string> seen;
  for (const auto& entry : top) {
    const std::string& k = entry.first;  // a plain reference: clang 14 lambdas cannot capture bindings
    if (std::find(seen.begin(), seen.end(), k) != seen.end()) continue;
    seen.push_back(k);
    auto first = std::find_if(base.begin(), base.end(), [&](const auto& p) { return p.first == k; });
    Pairs values;
    for (const auto& p : top)
      if (p.first == k) values.push_back(p);
    if (first == base.end()) {
      base.insert(base.end(), values.begin(), values.end());
    } else {
      const auto at = first - base.begin();
      base.erase(std::remove_if(base.begin(), base.end(), [&](const auto& p) { return p.first == k; }), base.end());
      base.insert(base.begin() + std::min<std::ptrdiff_t>(at, static_cast<std::ptrdiff_t>(base.size())), values.begin(),
                  values.end());
    }
  }
  return base;
}

void set_header(HeaderList& headers, const std::string& name, std::string value) {
  bool placed = false;
  for (auto it = headers.begin(); it != headers.end();) {
    if (!iequals(it->first, name)) {
      ++it;
    } else if (!placed) {
      it->first = name;
      it->second = std::move(value);
      placed = true;
      ++it;
    } else {
      it = headers.erase(it);
    }
  }
  if (!placed) headers.emplace_back(name, std::move(value));
}

bool has_header(const HeaderList& headers, std::string_view name) {
  return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return iequals(h.first, name); });
}

void remove_header(HeaderList& headers, std::string_view name) {
  headers.erase(std::remove_if(headers.begin(), headers.end(), [&](const auto& h) { return iequals(h.first, name); }),
                headers.end());
}

void apply_headers(HeaderList& headers, const Dict& d) {
  for (const auto& [k, v] : d) {
    std::string text = text_of(v, "请求头", k);
    check_header(k, text);
    set_header(headers, k, std::move(text));
  }
}

std::string cookie_header(const CookieJar& jar, const UrlParts& url, const Pairs& given) {
  return cookie_line(overlay(jar.for_request(url), given));
}

Body request_body(const RequestParts& parts) {
  const bool form_given = parts.data.truthy();
  if (parts.content) {
    if (form_given || !parts.files.empty()) throw ValueError("请求正文已直接给出，不能同时发送表单或上传文件");
    return {*parts.content, ""};
  }
  if (form_given && !parts.data.is_dict())
    throw TypeError("表单参数应为 JSON 对象，实际为 " + parts.data.type_name() + ": " + repr(parts.data));
  if (!parts.files.empty()) {
    const std::string boundary = new_boundary();
    const Pairs fields = parts.data.is_dict() ? pairs_of(parts.data.as_dict(), "表单参数", true) : Pairs();
    return {multipart_body(fields, parts.files, boundary), "multipart/form-data; boundary=" + boundary};
  }
  if (form_given) return {encode_pairs(pairs_of(parts.data.as_dict(), "表单参数", true)), "application/x-www-form-urlencoded"};
  return {dump_json(parts.json), "application/json"};
}

}  // namespace tovik::http
