// The local system under test of the demo suite: a small web site and JSON API on 127.0.0.1.
//   demo_target [--port N]   (0, the default, picks a free port)
// Prints "tovik demo target listening on http://127.0.0.1:PORT" once it accepts connections and
// stops cleanly on SIGINT or SIGTERM.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "examples/demo_api.hpp"
#include "examples/demo_pages.hpp"

namespace {

const char* kIndex = R"(<!doctype html>
<html lang="zh-CN">
<head><meta charset="utf-8"><title>tovik 演示站点</title></head>
<body>
  <h1 id="title">tovik 演示站点</h1>
  <p>被 tovik 演示用例测试的本地站点。</p>
</body>
</html>
)";

void routes(httplib::Server& s) {
  s.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content(kIndex, "text/html; charset=utf-8"); });
  s.Get("/health", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"status":"ok"})", "application/json");
  });
  s.Get("/api/info", [](const httplib::Request&, httplib::Response& res) {
    nlohmann::ordered_json j = {{"code", 0}, {"data", {{"name", "tovik demo"}, {"tags", {"web", "api"}}}}};
    res.set_content(j.dump(), "application/json; charset=utf-8");
  });
  s.Post("/api/echo", [](const httplib::Request& req, httplib::Response& res) {
    nlohmann::ordered_json j = {{"method", req.method}, {"body", req.body}};
    for (const auto& [k, v] : req.headers) j["headers"][k] = v;
    res.set_content(j.dump(), "application/json; charset=utf-8");
  });
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--port" && i + 1 < argc) port = std::atoi(argv[++i]);
    else {
      std::cerr << "usage: demo_target [--port N]\n";
      return 2;
    }
  }
  // Signals are taken by a thread of their own, which stops the server from outside its loop.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  httplib::Server server;
  routes(server);
  tovik::examples::add_demo_pages(server);
  tovik::examples::add_demo_api(server);
  if (port == 0) port = server.bind_to_any_port("127.0.0.1");
  else if (!server.bind_to_port("127.0.0.1", port)) port = -1;
  if (port <= 0) {
    std::cerr << "demo_target: cannot listen on 127.0.0.1\n";
    return 1;
  }
  std::thread stopper([&] {
    int sig = 0;
    sigwait(&set, &sig);
    server.stop();
  });
  stopper.detach();
  std::cout << "tovik demo target listening on http://127.0.0.1:" << port << std::endl;
  server.listen_after_bind();
  return 0;
}
