#include "support/base/errors.hpp"

namespace tovik {

const char* error_kind(const std::exception& e) {
  if (const auto* err = dynamic_cast<const Error*>(&e)) return err->kind();
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "MemoryError";
  if (dynamic_cast<const std::out_of_range*>(&e)) return "IndexError";
  if (dynamic_cast<const std::invalid_argument*>(&e)) return "ValueError";
  return "Error";
}

std::string describe_error(const std::exception& e) {
  std::string message = e.what();
  std::string out = error_kind(e);
  if (!message.empty()) out += ": " + message;
  return out;
}

}  // namespace tovik
