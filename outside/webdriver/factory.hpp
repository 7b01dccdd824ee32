// Where drivers come from: a local chromedriver / geckodriver started for the session, or a
// remote session on a grid or an Appium server.
#pragma once

#include <memory>
#include <string>

#include "outside/webdriver/driver.hpp"
#include "support/base/value.hpp"

namespace tovik::webdriver {

// browser: "chrome", "firefox", "android" or "ios", in any case (else ValueError listing them).
// hub: the remote endpoint; empty means the setting selenium_grid of [tovik_ui]. Without one,
// chrome and firefox start their driver program locally (chromedriver_path, chrome_binary and
// headless are read from [tovik_ui]); android and ios always need one.
// capabilities: a mapping merged over the setting capabilities (JSON text) of [tovik_ui].
// The driver owns what was started for it: quit() (or its destructor) ends the session, stops
// the driver program and removes the browser profile.
std::shared_ptr<Driver> get_webdriver(const std::string& browser, const std::string& hub = "",
                                      const Value& capabilities = Value());

}  // namespace tovik::webdriver
