#include "outside/webdriver/driver.hpp"

namespace tovik::webdriver {

Value to_value(const Rect& r) {
  const auto num = [](double d) {
    return d == static_cast<double>(static_cast<long long>(d)) ? Value(static_cast<long long>(d)) : Value(d);
  };
  return Value(Dict{{"x", num(r.x)}, {"y", num(r.y)}, {"width", num(r.width)}, {"height", num(r.height)}});
}

std::string Element::repr() const { return "<WebElement id='" + id() + "'>"; }

}  // namespace tovik::webdriver
