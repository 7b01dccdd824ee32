// Polling until a condition holds, as WebDriver clients' explicit waits do.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "outside/webdriver/driver.hpp"
#include "support/base/value.hpp"

namespace tovik::webdriver {

class WebDriverWait {
 public:
  using Condition = std::function<Value(Driver&)>;

  WebDriverWait(std::shared_ptr<Driver> driver, double timeout, double poll_frequency);

  // Calls the condition once per poll interval until it gives a true value and returns that value.
  // NoSuchElementException counts as false; any other error ends the wait at once. At the time-out
  // it raises TimeoutException carrying the message.
  Value until(const Condition& condition, const std::string& message = "") const;

  double timeout() const { return timeout_; }
  double poll_frequency() const { return poll_; }
  const std::shared_ptr<Driver>& driver() const { return driver_; }

 private:
  std::shared_ptr<Driver> driver_;
  double timeout_;
  double poll_;
};

}  // namespace tovik::webdriver
