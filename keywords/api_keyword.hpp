// HTTP API keywords: shared client settings (set_*), parts for the next request only (set_json,
// set_form, add_*), send_http, and saving status, headers, body or a JSONPath selection.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/base_keyword.hpp"
#include "core/mock_request.hpp"
#include "support/http/client.hpp"
#include "support/jsonpath/jsonpath.hpp"

namespace tovik {

class ApiKeyWord : public virtual BaseKeyWord {
 public:
  // Creates the default client (new_client with its default time-out); the base URL comes from
  // tovik_api.base_url, so a configuration that cannot be read fails the construction.
  ApiKeyWord(std::shared_ptr<Exchange> exchanger, Value usefixtures);
  static const KeywordClass& keyword_class();
  const KeywordClass& klass() const override { return keyword_class(); }
  // A driver's evidence, then the last request sent (or tried) as a curl command "curl 命令".
  void attach_failure_evidence() override;

  // The parts gathered for the next send; the first access after a send starts new ones and
  // forgets the last response.
  MockRequest& current_request();
  // The last response; ValueError when none was received since the parts were started.
  const http::Response& current_response() const;

  // The parts gathered for the next request (set_json, set_form, add_*), as the client takes them.
  http::RequestParts pending_parts();
  // Sends one request built from parts, as send_http does: logged, attached to the report step,
  // saved as resp_code and resp_body and kept as the current response. The pending parts are used
  // up once the request is built; one that cannot be built leaves them pending. timeout in
  // seconds, 0 for the client's own.
  void send(std::string_view method, std::string_view url, const http::RequestParts& parts, double timeout = 0);

  // The client's hooks: five log lines for each request and each response.
  static void log_request(const http::Request& request);
  static void log_response(const http::Response& response);

  Value key_new_client(const Args& a);
  Value key_set_baseurl(const Args& a);
  Value key_set_follow_redirects(const Args& a);
  Value key_set_headers(const Args& a);
  Value key_set_cookies(const Args& a);
  Value key_set_params(const Args& a);
  Value key_set_json(const Args& a);
  Value key_set_form(const Args& a);
  Value key_add_header(const Args& a);
  Value key_add_cookie(const Args& a);
  Value key_add_query(const Args& a);
  Value key_add_form(const Args& a);
  Value key_add_file(const Args& a);
  Value key_send_http(const Args& a);
  Value key_save_code(const Args& a);
  Value key_save_headers(const Args& a);
  Value key_save_body(const Args& a);
  Value key_save_jsonpath(const Args& a);

  std::shared_ptr<http::Client> client;

 protected:
  std::optional<MockRequest> _current_request;
  std::shared_ptr<const http::Response> _current_response;
  std::shared_ptr<const http::Request> _last_request;  // as built, kept for a failure's curl command

 private:
  // Cases select with the same few expressions over and over: each is compiled once.
  const jsonpath::Path& compiled(const std::string& expr);
  std::unordered_map<std::string, jsonpath::Path> paths_;
};

// text centred in width characters of fill: half the fill on the left (rounded down), the rest
// on the right.
std::string center(const std::string& text, std::size_t width, char fill);

}  // namespace tovik
