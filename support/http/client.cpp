#include "support/http/client.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <mutex>
#include <optional>

#include "support/base/printable.hpp"
#include "support/base/text.hpp"
#include "support/http/ca_bundle.hpp"
#include "support/http/message_text.hpp"
#include "support/http/redirect.hpp"
#include "support/http/url.hpp"
#include "version.hpp"
#include "support/http/curl_global.hpp"

namespace tovik::http {

namespace {

using Clock = std::chrono::steady_clock;

struct Collected {
  std::string body;
  int status = 0;
  std::string reason;
  HeaderList headers;
  // When a byte last went out or came in, and how many had by then: the time-out counts from it.
  Clock::time_point last_byte = Clock::now();
  curl_off_t sent = 0, received = 0;
};

std::size_t on_body(char* data, std::size_t size, std::size_t n, void* user) {
  auto* c = static_cast<Collected*>(user);
  c->body.append(data, size * n);
  c->last_byte = Clock::now();
  return size * n;
}

// Notices bytes of the request body going out (and of the response, counted once more).
int on_progress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
  if (!user) return 0;
  auto* c = static_cast<Collected*>(user);
  if (sent != c->sent || received != c->received) {
    c->sent = sent;
    c->received = received;
    c->last_byte = Clock::now();
  }
  return 0;
}

// Blanks, tabs and the line's own CR LF: what curl hands over around a header's parts. Other
// control bytes are the server's and stay in the value.
std::string_view trim_header_space(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

std::size_t on_header(char* data, std::size_t size, std::size_t n, void* user) {
  auto* c = static_cast<Collected*>(user);
  c->last_byte = Clock::now();
  const std::string_view line(data, size * n);
  if (line.rfind("HTTP/", 0) == 0) {
    // a new status line: informational (1xx) blocks before it are forgotten
    c->headers.clear();
    c->reason.clear();
    const std::string_view rest = trim_header_space(line);
    const auto sp1 = rest.find(' ');
    if (sp1 != std::string_view::npos) {
      const auto sp2 = rest.find(' ', sp1 + 1);
      if (sp2 != std::string_view::npos) c->reason = std::string(trim_header_space(rest.substr(sp2 + 1)));
    }
  } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !c->headers.empty()) {
    const std::string_view more = trim_header_space(line);
    if (!more.empty()) c->headers.back().second += ' ' + std::string(more);
  } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
    c->headers.emplace_back(std::string(trim_header_space(line.substr(0, colon))),
                            std::string(trim_header_space(line.substr(colon + 1))));
  }
  return size * n;
}

struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

struct Client::Impl {
  std::string base_url;
  // the base URL as resolve_url_parts takes it, worked out when first needed
  std::optional<std::string> normalised_base;
  double timeout = 5.0;
  bool follow_redirects = false;
  Dict headers, cookies, params;
  std::vector<RequestHook> request_hooks;
  std::vector<ResponseHook> response_hooks;
  CookieJar jar;
  // The request runs on a multi handle, which also keeps the open connections between requests,
  // so that this loop, not curl, decides when a wait has lasted too long.
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  char error[CURL_ERROR_SIZE] = {};

  // The handles are made for the first request: a case that sends nothing costs no curl set-up.
  CURL* handle();
  std::shared_ptr<Response> perform(const Request& req);
  // Runs the transfer set up on easy. False when some wait (for the connection, the first byte,
  // the next byte either way) lasted longer than wait; CURLE_OK or curl's failure otherwise.
  bool transfer(Collected& got, std::chrono::nanoseconds wait, CURLcode& result);
};

Client::Client(Options options) : impl_(std::make_unique<Impl>()) {
  if (!std::isfinite(options.timeout) || options.timeout <= 0)
    throw ValueError("超时时间应为大于 0 的秒数，实际为 " + format_float(options.timeout));
  impl_->base_url = std::move(options.base_url);
  impl_->timeout = options.timeout;
  impl_->follow_redirects = options.follow_redirects;
  impl_->request_hooks = std::move(options.request_hooks);
  impl_->response_hooks = std::move(options.response_hooks);
}

CURL* Client::Impl::handle() {
  if (easy) return easy;
  init_curl_once();
  if (!multi) multi = curl_multi_init();
  if (!multi) throw OSError("无法创建 HTTP 客户端（curl_multi_init 失败）");
  easy = curl_easy_init();
  if (!easy) throw OSError("无法创建 HTTP 客户端（curl_easy_init 失败）");
  // what holds for every request of this client; perform sets the rest each time
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  // decode whatever the server compressed; what the request asks for is in its own headers
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &on_body);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &on_header);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &on_progress);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  if (const char* file = ca_bundle_from_env()) curl_easy_setopt(easy, CURLOPT_CAINFO, file);
  return easy;
}

Client::~Client() {
  if (!impl_) return;
  if (impl_->easy) curl_easy_cleanup(impl_->easy);
  if (impl_->multi) curl_multi_cleanup(impl_->multi);
}

const std::string& Client::base_url() const { return impl_->base_url; }
void Client::set_base_url(const std::string& url) {
  std::string normalised = normalise_base_url(url);
  impl_->base_url = url;
  impl_->normalised_base = std::move(normalised);
}
double Client::timeout() const { return impl_->timeout; }
bool Client::follow_redirects() const { return impl_->follow_redirects; }
void Client::set_follow_redirects(bool follow) { impl_->follow_redirects = follow; }
const Dict& Client::headers() const { return impl_->headers; }
const Dict& Client::cookies() const { return impl_->cookies; }
const Dict& Client::params() const { return impl_->params; }

void Client::set_headers(const Value& headers) {
  check_scalars(headers, "通用请求头", false, false);
  impl_->headers = headers.as_dict();
  for (const auto& [k, v] : impl_->headers)
    if (is_sensitive_header(k)) add_credential(scalar_text(v, k));
}
void Client::set_cookies(const Value& cookies) {
  check_scalars(cookies, "通用 cookies", false, true);
  impl_->cookies = cookies.as_dict();
  for (const auto& [k, v] : impl_->cookies) add_credential(scalar_text(v, k));
}
void Client::set_params(const Value& params) {
  check_scalars(params, "通用查询参数", true, false);
  impl_->params = params.as_dict();
}

std::vector<Client::RequestHook>& Client::request_hooks() { return impl_->request_hooks; }
std::vector<Client::ResponseHook>& Client::response_hooks() { return impl_->response_hooks; }
const CookieJar& Client::cookie_jar() const { return impl_->jar; }

Request Client::build_request(std::string_view method, std::string_view url, const RequestParts& parts) const {
  Request req;
  req.method = ascii_upper(method);
  if (!is_token(req.method)) throw ValueError("请求方法不合法: " + repr_text(method));

  // a base that does not normalise fails each request that needs it, naming it
  if (!impl_->normalised_base && !is_absolute_url(url)) impl_->normalised_base = normalise_base_url(impl_->base_url);
  req.url = resolve_url_parts(impl_->normalised_base.value_or(""), url, req.where);
  const Pairs query = overlay(pairs_of(impl_->params, "查询参数", true), pairs_of(parts.params, "查询参数", true));
  req.url = merge_query(req.url, query);
  const UrlParts& where = req.where;

  HeaderList& h = req.headers;
  h.emplace_back("Host", where.netloc());
  h.emplace_back("Accept", "*/*");
  // No Accept-Encoding unless a case sets one: responses arrive as the server has them, and
  // servers do not spend time compressing small bodies. Compressed ones are decoded all the same.
  h.emplace_back("Connection", "keep-alive");
  h.emplace_back("User-Agent", std::string("tovik/") + kTovikVersion);
  apply_headers(h, impl_->headers);
  apply_headers(h, parts.headers);

  Body body = request_body(parts);
  req.content = std::move(body.content);
  if (req.method == "HEAD") {
    req.content.clear();  // a HEAD request has no body, whatever was gathered for it
  } else {
    set_header(h, "Content-Length", std::to_string(req.content.size()));
    if (!has_header(h, "Content-Type") && !body.content_type.empty())
      h.emplace_back("Content-Type", std::move(body.content_type));
  }

  req.cookies = overlay(pairs_of(impl_->cookies, "cookie", false), pairs_of(parts.cookies, "cookie", false));
  for (const auto& [k, v] : req.cookies) {
    check_cookie(k, v);
    add_credential(v);
  }
  for (const auto& [k, v] : h)
    if (is_sensitive_header(k)) add_credential(v);
  if (!has_header(h, "Cookie")) {
    const std::string cookie = cookie_header(impl_->jar, where, req.cookies);
    if (!cookie.empty()) h.emplace_back("Cookie", cookie);
  }
  return req;
}

std::shared_ptr<Response> Client::send(Request request) {
  return send(std::make_shared<const Request>(std::move(request)));
}

std::shared_ptr<Response> Client::send(std::shared_ptr<const Request> req) {
  const std::shared_ptr<const Request> first = req;
  std::vector<std::shared_ptr<const Response>> history;
  for (int hop = 0;; ++hop) {
    for (auto& hook : impl_->request_hooks) hook(*req);
    std::shared_ptr<Response> resp = impl_->perform(*req);
    resp->request = req;
    std::vector<std::string> set_cookie;
    for (const auto& [k, v] : resp->headers)
      if (iequals(k, "Set-Cookie")) set_cookie.push_back(v);
    if (!set_cookie.empty()) impl_->jar.store(req->where.host.empty() ? split_url(req->url) : req->where, set_cookie);
    for (auto& hook : impl_->response_hooks) hook(*resp);

    const std::string location = resp->header("Location");
    const bool redirect = is_redirect_status(resp->status_code) && !location.empty();
    if (!impl_->follow_redirects || !redirect) {
      resp->history = std::move(history);
      return resp;
    }
    if (hop >= kMaxRedirects)
      throw TooManyRedirects("重定向超过 " + std::to_string(kMaxRedirects) + " 次: " + first->method + " " + first->url);
    req = std::make_shared<const Request>(redirected(*req, resp->status_code, location, impl_->jar));
    history.push_back(std::move(resp));
  }
}

std::shared_ptr<Response> Client::Impl::perform(const Request& req) {
  CURL* c = handle();
  error[0] = '\0';
  curl_easy_setopt(c, CURLOPT_URL, req.url.c_str());
  // A request may bring its own time-out. It bounds each wait, not the whole exchange: a large
  // body that keeps arriving is not cut off. At least 1 ms (0 would mean none), at most about
  // 31 years.
  const double wait = req.timeout > 0 ? req.timeout : timeout;
  const double wait_ms = std::clamp(std::ceil(wait * 1000), 1.0, 1e12);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 0L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(wait_ms));
  const bool asks_encoding = has_header(req.headers, "Accept-Encoding");

  // every method option is set each time: the handle still holds those of the last request
  const bool has_body = has_header(req.headers, "Content-Length");
  if (req.method == "HEAD") {
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
  } else if (has_body) {
    curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(req.content.size()));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, req.content.data());
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, req.method.c_str());
  } else {
    curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, req.method == "GET" ? nullptr : req.method.c_str());
  }

  std::unique_ptr<curl_slist, SlistDeleter> list;
  const auto add = [&](const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) throw OSError("内存不足，无法设置请求头");
    list.release();
    list.reset(grown);
  };
  const std::string default_host = (req.where.host.empty() ? split_url(req.url) : req.where).netloc();
  for (const auto& [k, v] : req.headers) {
    if (iequals(k, "Content-Length")) continue;  // curl sends the same number, from the body size
    if (iequals(k, "Host") && v == default_host) continue;
    add(v.empty() ? k + ";" : k + ": " + v);
  }
  add("Expect:");  // no 100-continue round trip before bodies
  if (!asks_encoding) add("Accept-Encoding:");  // CURLOPT_ACCEPT_ENCODING would add one
  if (has_body && !has_header(req.headers, "Content-Type")) add("Content-Type:");
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, list.get());

  Collected got;
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &got);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &got);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &got);

  CURLcode rc = CURLE_OK;
  const bool in_time =
      transfer(got, std::chrono::nanoseconds(static_cast<std::int64_t>(std::min(wait_ms, 9e12) * 1e6)), rc);
  // nothing of this request stays pointed at once it is gone
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, nullptr);
  curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, nullptr);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, nullptr);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, nullptr);
  const std::string what = req.method + " " + req.url;
  if (!in_time) throw TimeoutError("请求超时（超过 " + format_float(wait) + " 秒）: " + what);
  if (rc != CURLE_OK) {
    const std::string detail = error[0] ? std::string(error) : std::string(curl_easy_strerror(rc));
    switch (rc) {
      case CURLE_OPERATION_TIMEDOUT:
        throw TimeoutError("请求超时（超过 " + format_float(wait) + " 秒）: " + what);
      case CURLE_COULDNT_CONNECT:
      case CURLE_COULDNT_RESOLVE_HOST:
      case CURLE_COULDNT_RESOLVE_PROXY:
      case CURLE_SSL_CONNECT_ERROR:
        throw ConnectError("无法连接: " + what + ": " + detail);
      default:
        throw TransportError("请求失败: " + what + ": " + detail);
    }
  }

  auto resp = std::make_shared<Response>();
  long code = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
  curl_off_t total_us = 0;
  curl_easy_getinfo(c, CURLINFO_TOTAL_TIME_T, &total_us);
  resp->status_code = static_cast<int>(code);
  resp->reason = std::move(got.reason);
  resp->headers = std::move(got.headers);
  resp->content = std::move(got.body);
  resp->text = decode_text(resp->content, resp->header("Content-Type"));
  resp->url = req.url;
  resp->elapsed = static_cast<double>(total_us) / 1e6;
  for (const auto& [k, v] : resp->headers)
    if (iequals(k, "Set-Cookie"))
      if (auto pair = set_cookie_pair(v)) resp->cookies.set(pair->first, Value(pair->second));
  return resp;
}

bool Client::Impl::transfer(Collected& got, std::chrono::nanoseconds wait, CURLcode& result) {
  const auto check = [](CURLMcode mc) {
    if (mc != CURLM_OK) throw OSError(std::string("HTTP 客户端出错: ") + curl_multi_strerror(mc));
  };
  check(curl_multi_add_handle(multi, easy));
  // the handle leaves the multi handle however this ends; a transfer cut short closes its connection
  struct Detach {
    CURLM* multi;
    CURL* easy;
    ~Detach() { curl_multi_remove_handle(multi, easy); }
  } detach{multi, easy};

  got.last_byte = Clock::now();
  for (;;) {
    int running = 0;
    check(curl_multi_perform(multi, &running));
    if (running == 0) break;
    const auto left = got.last_byte + wait - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    // curl wakes earlier for its own timers and for traffic
    const auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    check(curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::min<std::int64_t>(left_ms, INT_MAX)), nullptr));
  }
  result = CURLE_OK;
  int queued = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) result = msg->data.result;
  return true;
}

}  // namespace tovik::http
