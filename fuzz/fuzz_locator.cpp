// Locator strings ("value;;by;;index") as browser and app keywords parse them before any driver
// is asked. Refusals must be tovik errors; any other exception or a crash is a finding.
#include <spdlog/sinks/null_sink.h>

#include "core/locator.hpp"
#include "fuzz/fuzz_support.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace fz = tovik::fuzz;
using tovik::Value;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Refused locators are logged: keep the formatting, drop the lines.
  tovik::log::set_sinks({std::make_shared<spdlog::sinks::null_sink_mt>()});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(fz::as_text(data, size));
  try {
    const tovik::TovikLocator locator(text);
    fz::check(locator.index() >= 0, "an index is never negative", locator.repr());
    (void)locator.repr();
  } catch (const tovik::Error&) {
  }
  // The setters alone, as keywords that take strategy and index as separate arguments use them.
  tovik::TovikLocator parts("//a");
  try {
    parts.set_by(Value(text));
    fz::check(tovik::locator_strategy(text) != nullptr, "set_by() takes only names of the table");
  } catch (const tovik::Error&) {
  }
  try {
    parts.set_index(Value(text));
    fz::check(parts.index() >= 0, "an index is never negative");
  } catch (const tovik::Error&) {
  }
  try {
    parts.set_value(Value(text));
  } catch (const tovik::Error&) {
  }
  return 0;
}
