// The browser workload of bench/web_bench.sh without the keyword layer: tovik's W3C client
// driving headless Chromium straight from a loop.
//   web_loop BASE_URL N minimal|keyword-commands
// Each iteration types "v<i>" into the name field of BASE_URL/web/form, clicks the submit button,
// reads the result and compares it. "minimal" sends only the commands that work needs;
// "keyword-commands" also sends what the keywords add: the lookup's one script (the element's
// tag and rect for the log line, the highlight style, the interactivity answer), so the rest of
// the difference to `tovik run` is the keyword machinery itself. Settings ([tovik_ui]) come from pytest.ini of
// the current directory, as for tovik. Prints "MODE N SECONDS MS_PER_ITERATION" for the loop
// alone, without starting the browser and loading the page.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/element_scripts.hpp"
#include "outside/settings/settings.hpp"
#include "outside/webdriver/factory.hpp"
#include "support/base/errors.hpp"

namespace {

using tovik::List;
using tovik::Value;
using Element = tovik::webdriver::Element;
using Driver = tovik::webdriver::Driver;

std::shared_ptr<Element> find(Driver& d, const std::string& css, bool keyword_commands) {
  auto e = d.find_element("css selector", css);
  if (keyword_commands) {
    const Value answer = d.execute_script(tovik::element_lookup_script(),
                                          List{Value(std::shared_ptr<tovik::Object>(e)), Value(tovik::settings::tovik_ui().text("touch_css"))});
    if (!answer.is_dict() || !answer.as_dict().at("ready").truthy()) throw tovik::AssertionError("element not interactive");
  }
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[3]) != "minimal" && std::string(argv[3]) != "keyword-commands")) {
    std::cerr << "usage: web_loop BASE_URL N minimal|keyword-commands\n";
    return 2;
  }
  const std::string base = argv[1];
  const int n = std::atoi(argv[2]);
  const bool extra = std::string(argv[3]) == "keyword-commands";
  try {
    auto driver = tovik::webdriver::get_webdriver(tovik::settings::tovik_ui().text("driver_type"));
    driver->get(base + "/web/form");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= n; ++i) {
      const std::string value = 'v' + std::to_string(i);
      auto name = find(*driver, "#name", extra);
      name->clear();
      name->send_keys(value);
      auto submit = find(*driver, "#submit", extra);
      submit->click();
      const std::string text = find(*driver, "#result", extra)->text();
      const std::string expected = "提交" + std::to_string(i) + "：" + value + " <> 已有内容";
      if (text != expected) throw tovik::AssertionError("iteration " + std::to_string(i) + ": '" + text + "' != '" + expected + "'");
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    driver->quit();
    std::printf("%s %d %.3f %.2f\n", argv[3], n, secs, n > 0 ? secs * 1000 / n : 0.0);
  } catch (const std::exception& e) {
    std::cerr << "web_loop: " << tovik::describe_error(e) << "\n";
    return 1;
  }
  return 0;
}
