// Error kinds of the HTTP client. Transport failures are OSError kinds, as the operating system's
// socket errors are; a request that cannot be built is a ValueError kind.
#pragma once

#include "support/base/errors.hpp"

namespace tovik::http {

// A URL that cannot be sent to: malformed, not http(s), relative without a base URL.
class InvalidURL : public ValueError {
 public:
  explicit InvalidURL(const std::string& message = {}) : ValueError(message) {}
  const char* kind() const noexcept override { return "InvalidURL"; }
};

// The request went out, or tried to, and no complete response came back.
class TransportError : public OSError {
 public:
  explicit TransportError(const std::string& message = {}) : OSError(message) {}
  const char* kind() const noexcept override { return "TransportError"; }
};

// Name resolution or the TCP/TLS connection failed (refused, unreachable).
class ConnectError : public TransportError {
 public:
  explicit ConnectError(const std::string& message = {}) : TransportError(message) {}
  const char* kind() const noexcept override { return "ConnectError"; }
};

// The exchange did not finish within the client's time-out.
class TimeoutError : public TransportError {
 public:
  explicit TimeoutError(const std::string& message = {}) : TransportError(message) {}
  const char* kind() const noexcept override { return "TimeoutError"; }
};

class TooManyRedirects : public TransportError {
 public:
  explicit TooManyRedirects(const std::string& message = {}) : TransportError(message) {}
  const char* kind() const noexcept override { return "TooManyRedirects"; }
};

}  // namespace tovik::http
