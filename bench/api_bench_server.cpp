// The server of the API benchmarks (bench/speed.sh, bench/parallel.sh): POST /bench answers
// {"id": <id of the JSON body>, "ok": true, "name": "tovik"} on kept-alive connections.
//   api_bench_server [--delay-ms N]   prints "listening on PORT" (a free port of 127.0.0.1),
//                                     answers each request N ms late (default 0), stops on SIGTERM
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <iostream>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

int main(int argc, char** argv) {
  int delay_ms = 0;
  if (argc == 3 && std::string(argv[1]) == "--delay-ms") delay_ms = std::atoi(argv[2]);
  else if (argc != 1) {
    std::cerr << "usage: api_bench_server [--delay-ms N]\n";
    return 2;
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  httplib::Server server;
  server.set_keep_alive_max_count(1000000);
  server.set_tcp_nodelay(true);  // else every response waits for the client's delayed ACK
  // enough threads for every kept-alive client of a parallel run and the pytest-xdist workers
  server.new_task_queue = [] { return new httplib::ThreadPool(32); };
  server.Post("/bench", [delay_ms](const httplib::Request& req, httplib::Response& res) {
    if (delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    const auto body = nlohmann::json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.contains("id") || req.get_header_value("X-Bench").empty()) {
      res.status = 400;
      res.set_content(R"({"ok":false})", "application/json");
      return;
    }
    res.set_content(nlohmann::json{{"id", body["id"]}, {"ok", true}, {"name", "tovik"}}.dump(), "application/json");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::cerr << "api_bench_server: cannot listen on 127.0.0.1\n";
    return 1;
  }
  std::thread([&] {
    int sig = 0;
    sigwait(&set, &sig);
    server.stop();
  }).detach();
  std::cout << "listening on " << port << std::endl;
  server.listen_after_bind();
  return 0;
}
