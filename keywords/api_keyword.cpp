#include "keywords/api_keyword.hpp"

#include <exception>

#include "keywords/api_keyword_docs.hpp"
#include "keywords/library.hpp"
#include "outside/allure/step.hpp"
#include "outside/settings/settings.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/base/value_json.hpp"
#include "support/http/message_text.hpp"
#include "support/jsonpath/jsonpath.hpp"

namespace tovik {

using namespace keyword_docs;

namespace {

const char* const kNoResponse = "尚未发送请求，请使用send_http关键字发送请求后再读取响应";
const char* const kNotJson = "响应内容不是json格式，无法筛选";

// Runs one of this class's keywords as a nested keyword, in its own report step.
Value run_keyword(ApiKeyWord& self, const char* name, List args) {
  return ApiKeyWord::keyword_class().find(name)->invoke(self, args);
}

// Keys of the per-request mappings: a text, or a number in its text form.
std::string key_text(const Value& v) { return str(v); }

// What Python says when an item is assigned to something that is no mapping.
[[noreturn]] void not_assignable(const Value& target) {
  if (target.is_list()) throw TypeError("list indices must be integers or slices, not str");
  throw TypeError("'" + target.type_name() + "' object does not support item assignment");
}

// A form value: a scalar, or a list of scalars for a repeated field.
void check_form_value(const std::string& key, const Value& v) {
  const std::string what = "表单参数 " + repr_text(key);
  if (v.is_sequence()) {
    for (const auto& item : v.as_list()) http::scalar_text(item, what);
  } else {
    http::scalar_text(v, what);
  }
}

// Secrets stay out of the dispatch log line and the report steps: the value of a sensitive
// header, every cookie value.
const Value kMaskedValue{std::string(http::kMasked)};

bool mentions_secret(const std::string& text) {
  for (const char* word : {"authorization", "cookie", "token", "secret", "key"})
    if (icontains(text, word)) return true;
  return false;
}

// A JSON object text with the values of sensitive header names (of every name when all) masked.
// Text that does not parse is masked whole when it mentions a secret.
Value masked_json_text(const Value& v, bool all) {
  if (!v.is_str()) return v;
  Value parsed;
  try {
    parsed = parse_json(v.as_str());
  } catch (const std::exception&) {
    return all || mentions_secret(v.as_str()) ? kMaskedValue : v;
  }
  if (!parsed.is_dict()) return v;
  bool changed = false;
  for (auto& [k, val] : parsed.as_dict())
    if (all || http::is_sensitive_header(k)) {
      val = kMaskedValue;
      changed = true;
    }
  return changed ? Value(dump_json(parsed)) : v;
}

KeywordEntry shown_as(KeywordEntry e, List (*fn)(const List&)) {
  e.shown_args = fn;
  return e;
}

List header_shown(const List& args) {
  List out = args;
  if (out.size() >= 2 && http::is_sensitive_header(str(out[0]))) out[1] = kMaskedValue;
  return out;
}
List cookie_shown(const List& args) {
  List out = args;
  if (out.size() >= 2) out[1] = kMaskedValue;
  return out;
}
List headers_json_shown(const List& args) {
  List out = args;
  if (!out.empty()) out[0] = masked_json_text(out[0], false);
  return out;
}
List cookies_json_shown(const List& args) {
  List out = args;
  if (!out.empty()) out[0] = masked_json_text(out[0], true);
  return out;
}

}  // namespace

std::string center(const std::string& text, std::size_t width, char fill) {
  std::size_t chars = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++chars;
  if (chars >= width) return text;
  const std::size_t pad = width - chars, left = pad / 2;
  return std::string(left, fill) + text + std::string(pad - left, fill);
}

ApiKeyWord::ApiKeyWord(std::shared_ptr<Exchange> exchanger, Value usefixtures)
    : BaseKeyWord(std::move(exchanger), std::move(usefixtures)) {
  // the method itself, not the keyword: making the object is no step of the case's report
  key_new_client(keyword_class().find("new_client")->bind({}, {}));
}

const KeywordClass& ApiKeyWord::keyword_class() {
  keyword_defaults();  // loading any class is the library's moment for its configuration defaults
  static const KeywordClass cls(
      "ApiKeyWord", {&BaseKeyWord::keyword_class()},
      {
          keyword<ApiKeyWord>("new_client", &ApiKeyWord::key_new_client, kNewClientDoc, "启动接口客户端",
                              {optional("timeout", ParamKind::Number, Value(5.0))}),
          keyword<ApiKeyWord>("set_baseurl", &ApiKeyWord::key_set_baseurl, kSetBaseurlDoc, "设置baseurl",
                              {required("url", ParamKind::Text)}),
          keyword<ApiKeyWord>("set_follow_redirects", &ApiKeyWord::key_set_follow_redirects, kSetFollowRedirectsDoc,
                              "设置是否允许重定向", {optional("follow", ParamKind::Any, Value(false))}),
          shown_as(keyword<ApiKeyWord>("set_headers", &ApiKeyWord::key_set_headers, kSetHeadersDoc, "设置通用请求头",
                                       {required("headers", ParamKind::Text)}),
                   &headers_json_shown),
          shown_as(keyword<ApiKeyWord>("set_cookies", &ApiKeyWord::key_set_cookies, kSetCookiesDoc, "设置通用请求cookies",
                                       {required("cookies", ParamKind::Text)}),
                   &cookies_json_shown),
          keyword<ApiKeyWord>("set_params", &ApiKeyWord::key_set_params, kSetParamsDoc, "设置通用查询参数",
                              {required("params", ParamKind::Text)}),
          keyword<ApiKeyWord>("set_json", &ApiKeyWord::key_set_json, kSetJsonDoc, "设置json参数",
                              {required("_json", ParamKind::Text)}),
          keyword<ApiKeyWord>("set_form", &ApiKeyWord::key_set_form, kSetFormDoc, "设置表单参数",
                              {required("from_dict", ParamKind::Text)}),
          shown_as(keyword<ApiKeyWord>("add_header", &ApiKeyWord::key_add_header, kAddHeaderDoc, "添加请求头",
                                       {required("key", ParamKind::TextOrNumber), required("value", ParamKind::Any)}),
                   &header_shown),
          shown_as(keyword<ApiKeyWord>("add_cookie", &ApiKeyWord::key_add_cookie, kAddCookieDoc, "添加Cookie",
                                       {required("key", ParamKind::TextOrNumber), required("value", ParamKind::Any)}),
                   &cookie_shown),
          keyword<ApiKeyWord>("add_query", &ApiKeyWord::key_add_query, kAddQueryDoc, "添加通用查询参数",
                              {required("key", ParamKind::TextOrNumber), required("value", ParamKind::Any)}),
          keyword<ApiKeyWord>("add_form", &ApiKeyWord::key_add_form, kAddFormDoc, "添加表单参数",
                              {required("key", ParamKind::TextOrNumber), required("value", ParamKind::Any)}),
          keyword<ApiKeyWord>("add_file", &ApiKeyWord::key_add_file, kAddFileDoc, "添加文件上传参数",
                              {required("key", ParamKind::TextOrNumber), required("value", ParamKind::Text)}),
          keyword<ApiKeyWord>("send_http", &ApiKeyWord::key_send_http, kSendHttpDoc, "发送接口请求",
                              {required("method", ParamKind::Text), required("url", ParamKind::Text)}),
          keyword<ApiKeyWord>("save_code", &ApiKeyWord::key_save_code, kSaveCodeDoc, "保存[状态码]",
                              {required("var_name", ParamKind::TextOrNumber)}),
          keyword<ApiKeyWord>("save_headers", &ApiKeyWord::key_save_headers, kSaveHeadersDoc, "保存[响应头]",
                              {required("var_name", ParamKind::TextOrNumber)}),
          keyword<ApiKeyWord>("save_body", &ApiKeyWord::key_save_body, kSaveBodyDoc, "保存[响应正文]",
                              {required("var_name", ParamKind::TextOrNumber)}),
          keyword<ApiKeyWord>("save_jsonpath", &ApiKeyWord::key_save_jsonpath, kSaveJsonpathDoc, "保存[响应值]",
                              {required("var_name", ParamKind::TextOrNumber), required("value", ParamKind::Text)}),
      });
  return cls;
}

MockRequest& ApiKeyWord::current_request() {
  if (!_current_request) {
    _current_request.emplace();
    _current_response.reset();
  }
  return *_current_request;
}

const http::Response& ApiKeyWord::current_response() const {
  if (!_current_response) throw ValueError(kNoResponse);
  return *_current_response;
}

void ApiKeyWord::log_request(const http::Request& request) {
  static const std::string start = center("Rqeuest Start", 80, '-'), end = center("Rqeuest End", 80, '-');
  const auto& logger = log::lexa();
  if (!logger->should_log(spdlog::level::info)) return;  // the texts below cost more than the lines
  logger->info("{}", start);
  logger->info("Method: {}", request.method);
  logger->info("{}", http::headers_text(request.headers));
  logger->info("Body: {}", http::body_text(request));
  logger->info("{}", end);
}

void ApiKeyWord::log_response(const http::Response& response) {
  static const std::string start = center("Response Start", 80, '-'), end = center("Response End", 80, '-');
  const auto& logger = log::lexa();
  if (!logger->should_log(spdlog::level::info)) return;
  logger->info("{}", start);
  logger->info("Status Code: {}", response.status_code);
  logger->info("{}", http::headers_text(response.headers));
  logger->info("Body: {}", http::body_text(response));
  logger->info("{}", end);
}

Value ApiKeyWord::key_new_client(const Args& a) {
  http::Client::Options options;
  options.base_url = settings::tovik_api().text("base_url");
  options.timeout = a.number("timeout");
  options.request_hooks = {&ApiKeyWord::log_request};
  options.response_hooks = {&ApiKeyWord::log_response};
  // the old client goes only once the new one exists
  client = std::make_shared<http::Client>(std::move(options));
  return Value();
}

Value ApiKeyWord::key_set_baseurl(const Args& a) {
  client->set_base_url(a.text("url"));
  return Value();
}

Value ApiKeyWord::key_set_follow_redirects(const Args& a) {
  client->set_follow_redirects(a.flag("follow"));
  return Value();
}

Value ApiKeyWord::key_set_headers(const Args& a) {
  client->set_headers(parse_json(a.text("headers")));
  return Value();
}

Value ApiKeyWord::key_set_cookies(const Args& a) {
  client->set_cookies(parse_json(a.text("cookies")));
  return Value();
}

Value ApiKeyWord::key_set_params(const Args& a) {
  client->set_params(parse_json(a.text("params")));
  return Value();
}

Value ApiKeyWord::key_set_json(const Args& a) {
  Value parsed = parse_json(a.text("_json"));
  current_request().json = std::move(parsed);
  return Value();
}

Value ApiKeyWord::key_set_form(const Args& a) {
  Value parsed = parse_json(a.text("from_dict"));
  current_request().data = std::move(parsed);
  return Value();
}

Value ApiKeyWord::key_add_header(const Args& a) {
  const std::string key = key_text(a["key"]);
  std::string value = http::scalar_text(a["value"], "请求头 " + repr_text(key));
  http::check_header(key, value);
  current_request().headers.as_dict().set(key, Value(std::move(value)));
  return Value();
}

Value ApiKeyWord::key_add_cookie(const Args& a) {
  const std::string key = key_text(a["key"]);
  std::string value = http::scalar_text(a["value"], "cookie " + repr_text(key));
  http::check_cookie(key, value);
  current_request().cookies.as_dict().set(key, Value(std::move(value)));
  return Value();
}

Value ApiKeyWord::key_add_query(const Args& a) {
  const std::string key = key_text(a["key"]);
  std::string value = http::scalar_text(a["value"], "查询参数 " + repr_text(key));
  current_request().params.as_dict().set(key, Value(std::move(value)));
  return Value();
}

Value ApiKeyWord::key_add_form(const Args& a) {
  const std::string key = key_text(a["key"]);
  const Value& value = a["value"];
  check_form_value(key, value);
  Value& data = current_request().data;
  if (!data.is_dict()) not_assignable(data);
  data.as_dict().set(key, value);
  return Value();
}

Value ApiKeyWord::key_add_file(const Args& a) {
  const std::string key = key_text(a["key"]);
  // opened before anything changes: a path that cannot be read leaves the parts as they were
  auto file = http::UploadFile::open(a.text("value"));
  current_request().files.as_list().push_back(Value::tuple({Value(key), Value(std::shared_ptr<Object>(file))}));
  return Value();
}

http::RequestParts ApiKeyWord::pending_parts() {
  MockRequest::Fields fields = current_request().to_dict();
  http::RequestParts parts;
  parts.headers = fields.at("headers").as_dict();
  parts.cookies = fields.at("cookies").as_dict();
  parts.params = fields.at("params").as_dict();
  parts.data = fields.at("data");
  parts.json = fields.at("json");
  for (const Value& item : fields.at("files").as_list()) {
    const List& pair = item.as_list();
    parts.files.push_back({str(pair.at(0)), pair.at(1).object_as<http::UploadFile>()});
  }
  return parts;
}

void ApiKeyWord::send(std::string_view method, std::string_view url, const http::RequestParts& parts, double timeout) {
  if (parts.json.truthy() && (!parts.files.empty() || (parts.data.is_dict() && !parts.data.as_dict().empty())))
    log::lexa()->warn("本次请求发送表单，set_json 设置的 json 参数不会发送");
  http::Request request = client->build_request(method, url, parts);
  request.timeout = timeout;
  _current_request.reset();

  allure::attach("请求", "text/plain", http::request_text(request));
  _last_request = std::make_shared<const http::Request>(std::move(request));
  std::shared_ptr<const http::Response> response = client->send(_last_request);
  _current_response = response;
  const auto& history = response->history;
  for (std::size_t i = 0; i < history.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    allure::attach("重定向响应 " + n, "text/plain", http::response_text(*history[i]));
    const auto& next = i + 1 < history.size() ? history[i + 1]->request : response->request;
    if (next) allure::attach("重定向请求 " + n, "text/plain", http::request_text(*next));
  }
  allure::attach("响应", "text/plain", http::response_text(*response));

  run_keyword(*this, "save_code", {Value("resp_code")});
  run_keyword(*this, "save_body", {Value("resp_body")});
}

void ApiKeyWord::attach_failure_evidence() {
  BaseKeyWord::attach_failure_evidence();
  if (!_last_request) return;
  try {
    allure::attach("curl 命令", "text/plain", http::curl_command(*_last_request));
  } catch (const std::exception& error) {
    log::lexa()->warn("未能写出请求的 curl 命令：{}", error.what());
  }
}

Value ApiKeyWord::key_send_http(const Args& a) {
  send(a.text("method"), a.text("url"), pending_parts());
  return Value();
}

Value ApiKeyWord::key_save_code(const Args& a) {
  set_vars(key_text(a["var_name"]), Value(current_response().status_code));
  return Value();
}

Value ApiKeyWord::key_save_headers(const Args& a) {
  set_vars(key_text(a["var_name"]), Value(dump_json(Value(current_response().header_map()))));
  return Value();
}

Value ApiKeyWord::key_save_body(const Args& a) {
  set_vars(key_text(a["var_name"]), Value(current_response().text));
  return Value();
}

const jsonpath::Path& ApiKeyWord::compiled(const std::string& expr) {
  if (const auto it = paths_.find(expr); it != paths_.end()) return it->second;
  if (paths_.size() >= 256) paths_.clear();  // expressions built from variables need not pile up
  return paths_.emplace(expr, jsonpath::Path::compile(expr)).first->second;
}

Value ApiKeyWord::key_save_jsonpath(const Args& a) {
  const http::Response& response = current_response();
  Value document;
  try {
    document = parse_json(response.text);
  } catch (const JsonDecodeError&) {
    std::throw_with_nested(ValueError(kNotJson));
  }
  std::vector<Value> found = compiled(a.text("value")).evaluate(document);
  const Value result = found.empty() ? Value(false) : Value(List(std::make_move_iterator(found.begin()), std::make_move_iterator(found.end())));
  set_vars(key_text(a["var_name"]), Value(dump_json(result)));
  return Value();
}

}  // namespace tovik
