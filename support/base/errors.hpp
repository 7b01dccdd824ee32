// Error kinds. Every failure the system raises is one of these; what() gives the message.
#pragma once

#include <stdexcept>
#include <string>

namespace tovik {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
  // The kind as users read it in reports, e.g. "AssertionError".
  virtual const char* kind() const noexcept { return "Error"; }
};

#define TOVIK_ERROR_KIND(Name, Base)                                        \
  class Name : public Base {                                                \
   public:                                                                  \
    explicit Name(const std::string& message = {}) : Base(message) {}       \
    const char* kind() const noexcept override { return #Name; }            \
  };

TOVIK_ERROR_KIND(TypeError, Error)
TOVIK_ERROR_KIND(ValueError, Error)
TOVIK_ERROR_KIND(AttributeError, Error)
TOVIK_ERROR_KIND(KeyError, Error)
TOVIK_ERROR_KIND(IndexError, Error)
TOVIK_ERROR_KIND(OverflowError, Error)
TOVIK_ERROR_KIND(AssertionError, Error)
TOVIK_ERROR_KIND(TimeoutException, Error)
TOVIK_ERROR_KIND(WebDriverException, Error)
TOVIK_ERROR_KIND(NoSuchElementException, WebDriverException)
TOVIK_ERROR_KIND(JsonDecodeError, ValueError)
TOVIK_ERROR_KIND(OSError, Error)

#undef TOVIK_ERROR_KIND

// An error told again with more to say, keeping the kind it was raised with (a YAML case whose
// clean-up also failed reports both under the first failure's kind).
class RetoldError : public Error {
 public:
  RetoldError(std::string kind, const std::string& message) : Error(message), kind_(std::move(kind)) {}
  const char* kind() const noexcept override { return kind_.c_str(); }

 private:
  std::string kind_;
};

// "Kind: message" (or just the kind when the message is empty), for any exception.
std::string describe_error(const std::exception& e);
// The kind name of any exception: our kinds by name, others "Error".
const char* error_kind(const std::exception& e);

}  // namespace tovik
