#include "support/http/redirect.hpp"

#include "support/base/printable.hpp"
#include "support/http/errors.hpp"
#include "support/http/request_parts.hpp"

namespace tovik::http {

bool is_redirect_status(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

Request redirected(const Request& req, int status, const std::string& location, const CookieJar& jar) {
  Request next;
  try {
    next.url = redirect_target(req.url, location);
  } catch (const InvalidURL& e) {
    throw TransportError("无法跟随重定向: " + req.method + " " + req.url + " -> " + repr_text(location) + ": " + e.what());
  }
  next.method = req.method;
  next.timeout = req.timeout;
  if ((status == 303 && req.method != "HEAD") || ((status == 301 || status == 302) && req.method == "POST")) next.method = "GET";
  next.headers = req.headers;
  if (next.method != req.method) {
    // the body stays behind; so do the headers that described it
    remove_header(next.headers, "Content-Length");
    remove_header(next.headers, "Content-Type");
    remove_header(next.headers, "Transfer-Encoding");
  } else {
    next.content = req.content;
  }
  next.where = split_url(next.url);
  const UrlParts from = req.where.host.empty() ? split_url(req.url) : req.where;
  const UrlParts& to = next.where;
  const bool same_host = from.host == to.host;
  const bool same_origin = same_host && from.scheme == to.scheme && from.port == to.port;
  const bool https_upgrade = same_host && from.scheme == "http" && to.scheme == "https" &&
                             (from.port.empty() || from.port == "80") && (to.port.empty() || to.port == "443");
  // credentials given for one origin do not go to another
  if (!same_origin && !https_upgrade) remove_header(next.headers, "Authorization");
  if (!same_origin) set_header(next.headers, "Host", to.netloc());
  // the cookies given for this request go along to the same host only; the jar decides the rest
  if (same_host) next.cookies = req.cookies;
  remove_header(next.headers, "Cookie");
  const std::string cookie = cookie_header(jar, to, next.cookies);
  if (!cookie.empty()) next.headers.emplace_back("Cookie", cookie);
  return next;
}

}  // namespace tovik::http
