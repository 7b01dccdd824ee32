// Elements and alerts of a W3C session, locators, and values on the wire.
#include <cctype>

#include "outside/webdriver/actions.hpp"
#include "outside/webdriver/w3c_driver.hpp"
#include "support/base/errors.hpp"
#include "support/base/text.hpp"

namespace tovik::webdriver {

namespace {

void hex_escape(std::string& out, unsigned char c) {
  static const char* hex = "0123456789abcdef";
  out += '\\';
  if (c >= 16) out += hex[c >> 4];
  out += hex[c & 15];
  out += ' ';
}

// Text inside a double-quoted CSS string.
std::string css_string(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == 0) out += "\xEF\xBF\xBD";
    else if (c < 0x20 || c == 0x7f) hex_escape(out, c);
    else if (c == '"' || c == '\\') { out += '\\'; out += static_cast<char>(c); }
    else out += static_cast<char>(c);
  }
  return out;
}

// Returns the property when it is plain data (what a script sees after typing), else the
// attribute, else null: one round trip instead of two commands.
constexpr const char* kGetAttributeScript = R"js(
var e = arguments[0], n = arguments[1];
var alias = {'class': 'className', 'readonly': 'readOnly'};
var p = e[alias[n] || n];
if (typeof p === 'string' || typeof p === 'number') return String(p);
if (typeof p === 'boolean') return p ? 'true' : null;
var a = e.getAttribute(n);
return a === null || a === undefined ? null : String(a);
)js";

}  // namespace

std::shared_ptr<Element> element_from_wire(const Json& j, const std::shared_ptr<W3CSession>& session) {
  Value v = decode_wire_value(j, session);
  if (auto e = v.object_as<Element>()) return e;
  throw WebDriverException("WebDriver at " + session->base_url() + " answered a search with " + j.dump() +
                           " instead of an element reference");
}

std::vector<std::shared_ptr<Element>> elements_from_wire(const Json& j, const std::shared_ptr<W3CSession>& session) {
  if (!j.is_array()) {
    throw WebDriverException("WebDriver at " + session->base_url() + " answered a search with " + j.dump() +
                             " instead of a list of element references");
  }
  std::vector<std::shared_ptr<Element>> out;
  for (const auto& item : j) out.push_back(element_from_wire(item, session));
  return out;
}

Json locator_body(const std::string& by, const std::string& value, const W3CSession& session) {
  Locator l = translate_locator(by, value, session.is_appium());
  return Json{{"using", l.using_}, {"value", l.value}};
}

std::string wire_text(const Json& j) {
  if (j.is_string()) return j.get<std::string>();
  if (j.is_null()) return {};
  return j.dump();
}

static bool wire_bool(const Json& j, const std::string& what) {
  if (!j.is_boolean()) throw WebDriverException("WebDriver answered " + what + " with " + j.dump() + " instead of true or false");
  return j.get<bool>();
}

std::string css_escape(const std::string& ident) {
  std::string out;
  for (std::size_t i = 0; i < ident.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(ident[i]);
    if (c == 0) out += "\xEF\xBF\xBD";
    else if (c < 0x20 || c == 0x7f) hex_escape(out, c);
    else if (i == 0 && std::isdigit(c)) hex_escape(out, c);
    else if (i == 1 && std::isdigit(c) && ident[0] == '-') hex_escape(out, c);
    else if (i == 0 && c == '-' && ident.size() == 1) out += "\\-";
    else if (c >= 0x80 || c == '-' || c == '_' || std::isalnum(c)) out += static_cast<char>(c);
    else { out += '\\'; out += static_cast<char>(c); }
  }
  return out;
}

Locator translate_locator(const std::string& by, const std::string& value, bool appium) {
  if (by.empty()) throw ValueError("a locator needs a strategy (e.g. \"css selector\", \"xpath\", \"id\")");
  if (appium) return {by, value};
  if (by == "id" || by == "name" || by == "class name") {
    if (value.empty()) throw ValueError("locating by " + by + " needs a value");
    if (by == "id") return {"css selector", '#' + css_escape(value)};
    if (by == "name") return {"css selector", "[name=\"" + css_string(value) + "\"]"};
    return {"css selector", '.' + css_escape(value)};
  }
  return {by, value};
}

Json encode_wire_value(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Object: {
      if (auto e = v.object_as<Element>()) return Json{{kElementKey, e->id()}};
      throw TypeError("a " + v.type_name() + " object cannot be passed to the browser");
    }
    case Value::Kind::List:
    case Value::Kind::Tuple: {
      Json out = Json::array();
      for (const auto& item : v.as_list()) out.push_back(encode_wire_value(item));
      return out;
    }
    case Value::Kind::Dict: {
      Json out = Json::object();
      for (const auto& [k, item] : v.as_dict()) out[k] = encode_wire_value(item);
      return out;
    }
    default:
      return to_json(v);
  }
}

Value decode_wire_value(const Json& j, const std::shared_ptr<W3CSession>& session) {
  if (j.is_array()) {
    List out;
    for (const auto& item : j) out.push_back(decode_wire_value(item, session));
    return Value(std::move(out));
  }
  if (j.is_object()) {
    auto ref = j.find(kElementKey);
    if (ref == j.end() && j.size() == 1) ref = j.find("ELEMENT");  // older Appium answers
    if (ref != j.end() && ref->is_string()) {
      return Value(std::static_pointer_cast<Object>(std::make_shared<W3CElement>(session, ref->get<std::string>())));
    }
    Dict out;
    for (auto it = j.begin(); it != j.end(); ++it) out.set(it.key(), decode_wire_value(it.value(), session));
    return Value(std::move(out));
  }
  return from_json(j);
}

Json W3CElement::command(const std::string& method, const std::string& what, const Json& body) {
  return session_->command(method, "/element/" + percent_encode(id_) + what, body);
}

std::string W3CElement::text() { return wire_text(command("GET", "/text")); }

std::string W3CElement::tag_name() { return wire_text(command("GET", "/name")); }

Rect W3CElement::rect() {
  Json r = command("GET", "/rect");
  auto num = [&](const char* key) {
    if (!r.is_object() || !r.contains(key) || !r[key].is_number()) {
      throw WebDriverException("WebDriver answered the element rect with " + r.dump());
    }
    return r[key].get<double>();
  };
  return Rect{num("x"), num("y"), num("width"), num("height")};
}

void W3CElement::click() { command("POST", "/click"); }

void W3CElement::clear() { command("POST", "/clear"); }

void W3CElement::send_keys(const std::string& text) { command("POST", "/value", Json{{"text", text}}); }

std::optional<std::string> W3CElement::get_attribute(const std::string& name) {
  // Native app contexts run no scripts; Appium answers the attribute itself.
  if (session_->is_appium()) {
    Json r = command("GET", "/attribute/" + percent_encode(name));
    if (r.is_null()) return std::nullopt;
    return wire_text(r);
  }
  Json args = Json::array({Json{{kElementKey, id_}}, name});
  Json r = session_->command("POST", "/execute/sync", Json{{"script", kGetAttributeScript}, {"args", args}});
  if (r.is_null()) return std::nullopt;
  return wire_text(r);
}

bool W3CElement::is_displayed() { return wire_bool(command("GET", "/displayed"), "displayed"); }

bool W3CElement::is_enabled() { return wire_bool(command("GET", "/enabled"), "enabled"); }

std::shared_ptr<Element> W3CElement::find_element(const std::string& by, const std::string& value) {
  return element_from_wire(command("POST", "/element", locator_body(by, value, *session_)), session_);
}

std::vector<std::shared_ptr<Element>> W3CElement::find_elements(const std::string& by, const std::string& value) {
  return elements_from_wire(command("POST", "/elements", locator_body(by, value, *session_)), session_);
}

void W3CAlert::send_keys(const std::string& text) { session_->command("POST", "/alert/text", Json{{"text", text}}); }

void W3CAlert::accept() { session_->command("POST", "/alert/accept"); }

void W3CAlert::dismiss() { session_->command("POST", "/alert/dismiss"); }

}  // namespace tovik::webdriver
