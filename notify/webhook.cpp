#include "notify/webhook.hpp"

#include "support/base/errors.hpp"
#include "support/http/client.hpp"
#include "support/http/message_text.hpp"

namespace tovik::sender {

namespace {

void replace_all(std::string& s, std::string_view what, std::string_view with) {
  if (what.empty()) return;
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
    s.replace(at, what.size(), with);
}

// The client names the URL it sent to in its messages; the webhook's key goes with it. Each
// form the URL may take there is replaced by its shown form.
std::string scrubbed(std::string message, const std::string& sent, const std::string& given) {
  for (const std::string* url : {&sent, &given}) {
    replace_all(message, *url, shown_url(*url));
    if (const auto q = url->find('?'); q != std::string::npos && q + 1 < url->size())
      replace_all(message, url->substr(q + 1), http::kMasked);
  }
  return message;
}

}  // namespace

std::string shown_url(std::string_view url) {
  const auto sep = url.find("://");
  if (sep == std::string_view::npos || sep == 0) return std::string(http::kMasked);
  std::string_view rest = url.substr(sep + 3);
  rest = rest.substr(0, rest.find_first_of("?#"));
  const auto slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  std::string out(url.substr(0, sep + 3));
  out += authority;
  if (slash != std::string_view::npos) out += rest.substr(slash);
  return out;
}

int post_json(const std::string& url, const Value& body, const Dict& params, std::string_view setting) {
  http::Client::Options options;
  options.timeout = kRobotTimeout;
  http::Client client(std::move(options));
  http::RequestParts parts;
  parts.json = body;
  parts.params = params;

  http::Request request;
  try {
    request = client.build_request("POST", url, parts);
  } catch (const http::InvalidURL&) {
    throw http::InvalidURL("配置项 tovik." + std::string(setting) + " 不是有效的 http(s) 地址: " + shown_url(url));
  }
  const std::string sent = request.url;
  try {
    return client.send(std::move(request))->status_code;
  } catch (const http::TimeoutError& e) {
    throw http::TimeoutError(scrubbed(e.what(), sent, url));
  } catch (const http::ConnectError& e) {
    throw http::ConnectError(scrubbed(e.what(), sent, url));
  } catch (const http::TransportError& e) {
    throw http::TransportError(scrubbed(e.what(), sent, url));
  }
}

}  // namespace tovik::sender
