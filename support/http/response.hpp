// What an HTTP exchange leaves behind: the record that keywords save from and YAML cases extract from.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/base/value.hpp"
#include "support/http/request.hpp"

namespace tovik::http {

struct Response : Object {
  int status_code = 0;
  std::string reason;
  // In the order received; a repeated header appears once per occurrence.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string content;  // body bytes
  std::string text;     // body decoded as UTF-8 text
  Dict cookies;         // cookies the response set, name -> value
  std::string url;      // final URL after any redirects
  double elapsed = 0;   // seconds from sending to the complete response
  // body_text(content) once made (message_text.hpp): the log and the report show the same text
  mutable std::optional<std::string> shown_body;
  // The request this answers; null for a response made by hand.
  std::shared_ptr<const Request> request;
  // The redirect responses that led here, oldest first (when the client follows redirects).
  std::vector<std::shared_ptr<const Response>> history;

  std::string type_name() const override { return "Response"; }
  std::string repr() const override;

  // The body parsed as JSON; JsonDecodeError when it is not JSON.
  Value json() const;
  // First value of a header, compared without regard to case; empty when absent.
  std::string header(std::string_view name) const;
  // Headers as one mapping: repeats joined by ", " (Set-Cookie too), first-seen order.
  Dict header_map() const;
  bool ok() const { return status_code >= 100 && status_code < 400; }

  // A member by its name, for extraction rules that name one ("status_code", "headers", "text",
  // "content", "cookies", "url", "reason", "elapsed" in seconds, "elapsed_ms" in whole
  // milliseconds, "ok", "json"); AttributeError otherwise.
  Value member(std::string_view name) const;
};

}  // namespace tovik::http
