#include "outside/webdriver/wait.hpp"

#include <chrono>
#include <thread>

#include "support/base/errors.hpp"

namespace tovik::webdriver {

namespace {
constexpr double kMinPoll = 0.001;  // a zero poll interval would spin the CPU
}

WebDriverWait::WebDriverWait(std::shared_ptr<Driver> driver, double timeout, double poll_frequency)
    : driver_(std::move(driver)), timeout_(timeout), poll_(poll_frequency) {
  if (!driver_) throw ValueError("WebDriverWait needs a driver");
  if (poll_ < kMinPoll) poll_ = kMinPoll;
}

Value WebDriverWait::until(const Condition& condition, const std::string& message) const {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout_));
  const auto poll = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(poll_));
  // The condition is looked at once more when the deadline is reached, so a slow page that is
  // ready just in time still passes.
  for (;;) {
    try {
      Value v = condition(*driver_);
      if (v.truthy()) return v;
    } catch (const NoSuchElementException&) {
      // not there yet: keep polling
    }
    const auto now = Clock::now();
    if (now >= end) break;
    std::this_thread::sleep_for(std::min(poll, end - now));
  }
  throw TimeoutException(message);
}

}  // namespace tovik::webdriver
