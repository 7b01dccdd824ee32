#include "outside/webdriver/driver.hpp"

namespace tovik::webdriver {

std::string Element::repr() const { return "<WebElement id='" + id() + "'>"; }

}  // namespace tovik::webdriver
