// The HTTP client of the API keywords, over libcurl: a base URL, one time-out, redirects
// followed only when asked, shared headers, cookies and query parameters merged into every
// request (a request's own ones win), cookies that servers set kept for later requests, hooks
// called with every outgoing request and every response, and one connection kept alive.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/base/value.hpp"
#include "support/http/cookie_jar.hpp"
#include "support/http/errors.hpp"
#include "support/http/request.hpp"
#include "support/http/request_parts.hpp"
#include "support/http/response.hpp"

namespace tovik::http {

class Client {
 public:
  using RequestHook = std::function<void(const Request&)>;
  using ResponseHook = std::function<void(const Response&)>;

  struct Options {
    std::string base_url;  // taken as given; a bad one fails the requests that need it
    double timeout = 5.0;  // seconds; ValueError unless positive
    bool follow_redirects = false;
    std::vector<RequestHook> request_hooks;
    std::vector<ResponseHook> response_hooks;
  };

  explicit Client(Options options);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  const std::string& base_url() const;
  // InvalidURL unless empty or an absolute http(s) URL; the base URL stays as it was then.
  void set_base_url(const std::string& url);
  double timeout() const;
  bool follow_redirects() const;
  void set_follow_redirects(bool follow);

  // Shared settings, replaced as a whole. The value must be a mapping of texts, numbers, booleans
  // or none (query parameters may also hold lists, which repeat the name); TypeError or
  // ValueError otherwise, leaving the old settings in place.
  const Dict& headers() const;
  void set_headers(const Value& headers);
  const Dict& cookies() const;
  void set_cookies(const Value& cookies);
  const Dict& params() const;
  void set_params(const Value& params);

  std::vector<RequestHook>& request_hooks();
  std::vector<ResponseHook>& response_hooks();
  const CookieJar& cookie_jar() const;

  // The request as it will go out. The body is the first that applies: a multipart form of the
  // form fields and files when there are files, a URL-encoded form when there are form fields,
  // else the JSON text of parts.json. InvalidURL for a URL that cannot be sent to; ValueError or
  // TypeError for a bad method, header, cookie or part. Nothing is sent.
  Request build_request(std::string_view method, std::string_view url, const RequestParts& parts = {}) const;

  // Sends the request (and, when redirects are followed, the requests they lead to; at most 20),
  // calling the request hooks before each goes out and the response hooks with each response.
  // Any status is a response. ConnectError, TimeoutError, TooManyRedirects or TransportError,
  // each naming method and URL, when no response comes back.
  std::shared_ptr<Response> send(Request request);
  // The same for a request the caller keeps (a failure's evidence shows it), without a copy.
  std::shared_ptr<Response> send(std::shared_ptr<const Request> request);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik::http
