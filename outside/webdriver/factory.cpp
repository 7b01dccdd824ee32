#include "outside/webdriver/factory.hpp"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "outside/settings/settings.hpp"
#include "outside/webdriver/process.hpp"
#include "outside/webdriver/w3c_driver.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik::webdriver {

namespace {

namespace fs = std::filesystem;

const char* const kKnownBrowsers = "chrome、firefox、android、ios";

// Chromium as root in a container, with no network to talk to: without the background flags it
// keeps opening connections that are refused.
const char* const kChromeFlags[] = {"--no-sandbox",         "--disable-gpu",
                                    "--disable-dev-shm-usage", "--disable-quic",
                                    "--no-first-run",       "--disable-background-networking",
                                    "--disable-component-update", "--disable-sync"};

constexpr double kReadySeconds = 10;

void deep_merge(Json& into, const Json& from) {
  for (auto it = from.begin(); it != from.end(); ++it) {
    if (into.contains(it.key()) && into[it.key()].is_object() && it.value().is_object()) {
      deep_merge(into[it.key()], it.value());
    } else {
      into[it.key()] = it.value();
    }
  }
}

Json capabilities_json(const Value& v, const std::string& what) {
  if (v.is_none()) return Json::object();
  Json j;
  if (v.is_str()) {
    if (v.as_str().empty()) return Json::object();
    try {
      j = Json::parse(v.as_str());
    } catch (const std::exception& e) {
      throw ValueError(what + " 不是有效的 JSON: " + e.what());
    }
  } else if (v.is_dict()) {
    j = to_json(v);
  } else {
    throw TypeError(what + " 应为映射，实际为 " + v.type_name());
  }
  if (!j.is_object()) throw ValueError(what + " 应为 JSON 对象，实际为 " + j.dump());
  return j;
}

Json merged_capabilities(const Value& argument) {
  Json caps = Json::object();
  if (auto text = settings::tovik_ui().optional_text("capabilities")) {
    deep_merge(caps, capabilities_json(Value(*text), "配置项 tovik_ui.capabilities（来自 " +
                                                         settings::tovik_ui().origin("capabilities") + "）"));
  }
  deep_merge(caps, capabilities_json(argument, "capabilities"));
  return caps;
}

// Appium servers refuse capabilities outside the W3C set unless they carry a vendor prefix;
// testers write them bare ("app", "deviceName"), as the Appium clients let them.
Json with_appium_prefix(const Json& caps) {
  static const char* const kStandard[] = {"browserName",  "browserVersion",           "platformName",
                                          "acceptInsecureCerts", "pageLoadStrategy",  "proxy",
                                          "setWindowRect", "strictFileInteractability", "timeouts",
                                          "unhandledPromptBehavior", "webSocketUrl"};
  Json out = Json::object();
  for (const auto& [key, value] : caps.items()) {
    const bool standard = std::any_of(std::begin(kStandard), std::end(kStandard), [&key = key](const char* k) { return key == k; });
    out[standard || key.find(':') != std::string::npos ? key : "appium:" + key] = value;
  }
  return out;
}

Json& object_member(Json& parent, const std::string& key) {
  if (!parent.contains(key) || parent[key].is_null()) parent[key] = Json::object();
  if (!parent[key].is_object()) throw ValueError("capabilities 中的 " + key + " 应为 JSON 对象，实际为 " + parent[key].dump());
  return parent[key];
}

Json& args_of(Json& options, const std::string& owner) {
  if (!options.contains("args") || options["args"].is_null()) options["args"] = Json::array();
  if (!options["args"].is_array()) throw ValueError("capabilities 中的 " + owner + ".args 应为列表，实际为 " + options["args"].dump());
  return options["args"];
}

// Whether args already hold flag, bare or with "=value".
bool has_flag(const Json& args, const std::string& flag) {
  return std::any_of(args.begin(), args.end(), [&](const Json& a) {
    if (!a.is_string()) return false;
    const auto& s = a.get_ref<const std::string&>();
    return s == flag || s.rfind(flag + "=", 0) == 0;
  });
}

void add_flag(Json& args, const std::string& flag) {
  auto name = flag.substr(0, flag.find('='));
  if (!has_flag(args, name)) args.push_back(flag);
}

std::string make_workdir(const std::string& browser) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tovik-" + browser + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    throw OSError("无法创建临时目录 " + pattern + ": " + std::strerror(errno));
  }
  return pattern;
}

void remove_dir(const std::string& dir) {
  std::error_code ec;
  fs::remove_all(dir, ec);
  if (ec) log::get("tovik.webdriver")->warn("cannot remove {}: {}", dir, ec.message());
}

std::string log_excerpt(const DriverProcess& p) {
  std::string tail = p.log_tail(1500);
  return tail.empty() ? "（它的日志为空）" : "；它的日志结尾:\n" + tail;
}

void wait_until_ready(DriverProcess& process, const std::string& base_url, const std::string& name) {
  W3CConnection status(base_url, Timeouts{1, 2});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kReadySeconds);
  for (;;) {
    if (!process.running()) throw WebDriverException(name + " 在就绪之前退出了" + log_excerpt(process));
    try {
      Json v = status.request("GET", "/status");
      if (v.is_object() && v.value("ready", false)) return;
    } catch (const WebDriverException&) {
      // not listening yet
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw WebDriverException(name + " 在 " + std::to_string(static_cast<int>(kReadySeconds)) + " 秒内没有在 " + base_url +
                               " 就绪" + log_excerpt(process));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Starts the driver program on a free port and opens a session there; on any failure nothing
// started is left behind.
using CommandLine = std::function<std::vector<std::string>(int port)>;

std::shared_ptr<Driver> start_local(const std::string& name, const CommandLine& command_line,
                                    const std::string& workdir, const Json& caps) {
  std::shared_ptr<DriverProcess> process;
  std::string base_url;
  try {
    for (int attempt = 1;; ++attempt) {
      int port = free_local_port();
      base_url = "http://127.0.0.1:" + std::to_string(port);
      process = DriverProcess::start(command_line(port), workdir + "/" + name + ".log");
      try {
        wait_until_ready(*process, base_url, name);
        break;
      } catch (const WebDriverException&) {
        // Someone took the port between our look and the driver's bind: try another one.
        bool port_taken = process->log_tail().find("ddress already in use") != std::string::npos;
        process->stop();
        if (!port_taken || attempt == 3) throw;
      }
    }
    log::get("tovik.webdriver")->info("{} (pid {}) listening on {}", name, process->group(), base_url);
    auto cleanup = [process, workdir] {
      process->stop();
      remove_dir(workdir);
    };
    return W3CDriver::connect(base_url, caps, cleanup);
  } catch (...) {
    if (process) process->stop();
    remove_dir(workdir);
    throw;
  }
}

std::string chromedriver_program() {
  if (auto configured = settings::tovik_ui().optional_text("chromedriver_path")) {
    std::string found = find_program(*configured);
    if (found.empty()) {
      throw WebDriverException("chromedriver_path = " + *configured + "（来自 " +
                               settings::tovik_ui().origin("chromedriver_path") + "）不是可执行的程序");
    }
    return found;
  }
  std::string found = find_program("chromedriver");
  if (found.empty()) found = find_program("/usr/bin/chromedriver");
  if (found.empty()) {
    throw WebDriverException(
        "没有安装 chromedriver：请安装 chromium-driver，或在 [tovik_ui] 中设置 chromedriver_path");
  }
  return found;
}

std::shared_ptr<Driver> local_chrome(Json caps, bool headless) {
  std::string program = chromedriver_program();
  Json& options = object_member(caps, "goog:chromeOptions");
  Json& args = args_of(options, "goog:chromeOptions");
  if (headless) add_flag(args, "--headless=new");
  for (const char* flag : kChromeFlags) add_flag(args, flag);
  if (auto binary = settings::tovik_ui().optional_text("chrome_binary"); binary && !options.contains("binary")) {
    options["binary"] = *binary;
  }
  std::string workdir = make_workdir("chrome");
  if (!has_flag(args, "--user-data-dir")) args.push_back("--user-data-dir=" + workdir + "/profile");
  auto command_line = [program](int port) { return std::vector<std::string>{program, "--port=" + std::to_string(port)}; };
  return start_local("chromedriver", command_line, workdir, caps);
}

std::shared_ptr<Driver> local_firefox(Json caps, bool headless) {
  std::string program = find_program("geckodriver");
  if (program.empty()) {
    throw WebDriverException("没有安装 geckodriver：在本机运行 firefox 需要 PATH 中有 geckodriver，"
                             "或设置 selenium_grid 在远端运行");
  }
  if (headless) add_flag(args_of(object_member(caps, "moz:firefoxOptions"), "moz:firefoxOptions"), "-headless");
  std::string workdir = make_workdir("firefox");
  auto command_line = [program](int port) {
    return std::vector<std::string>{program, "--host", "127.0.0.1", "--port", std::to_string(port)};
  };
  return start_local("geckodriver", command_line, workdir, caps);
}

// A hub (Selenium Grid, Appium) may hold a new session in its queue until a slot is free.
Timeouts remote_timeouts() {
  Timeouts t;
  const double wait = settings::tovik_ui().number("session_wait");
  if (!(wait > 0))
    throw ValueError("session_wait 应为大于 0 的秒数，实际为 " + format_float(wait) + "（" +
                     settings::tovik_ui().origin("session_wait") + "）");
  t.new_session = wait;
  return t;
}

}  // namespace

std::shared_ptr<Driver> get_webdriver(const std::string& browser, const std::string& hub, const Value& capabilities) {
  const std::string name = ascii_lower(browser);
  if (name != "chrome" && name != "firefox" && name != "android" && name != "ios") {
    throw ValueError("未知的设备类型 " + (browser.empty() ? std::string("''") : "'" + browser + "'") +
                     "（可用：" + kKnownBrowsers + "）");
  }
  std::string remote = hub;
  if (remote.empty()) remote = settings::tovik_ui().optional_text("selenium_grid").value_or("");
  if (!remote.empty() && remote.rfind("http://", 0) != 0 && remote.rfind("https://", 0) != 0) {
    throw ValueError("WebDriver hub 应为 http:// 或 https:// 地址，实际为 '" + remote + "'");
  }

  Json caps = merged_capabilities(capabilities);
  if (name == "android" || name == "ios") {
    if (remote.empty()) {
      throw WebDriverException(name + " 需要 Appium 服务：请给出 hub，或在 [tovik_ui] 中设置 selenium_grid");
    }
    if (!caps.contains("platformName")) caps["platformName"] = name == "android" ? "Android" : "iOS";
    return W3CDriver::connect(remote, with_appium_prefix(caps), {}, remote_timeouts());
  }

  if (!caps.contains("browserName")) caps["browserName"] = name;
  // every console message is kept, not only errors: a failure's evidence shows them
  if (name == "chrome" && !caps.contains("goog:loggingPrefs")) caps["goog:loggingPrefs"] = Json{{"browser", "ALL"}};
  const bool headless = settings::tovik_ui().boolean("headless");
  if (!remote.empty()) {
    if (headless && name == "chrome") add_flag(args_of(object_member(caps, "goog:chromeOptions"), "goog:chromeOptions"), "--headless=new");
    if (headless && name == "firefox") add_flag(args_of(object_member(caps, "moz:firefoxOptions"), "moz:firefoxOptions"), "-headless");
    return W3CDriver::connect(remote, caps, {}, remote_timeouts());
  }
  return name == "chrome" ? local_chrome(std::move(caps), headless) : local_firefox(std::move(caps), headless);
}

}  // namespace tovik::webdriver
