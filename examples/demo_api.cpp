#include "examples/demo_api.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace tovik::examples {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kJsonType = "application/json; charset=utf-8";

void send_json(httplib::Response& res, const Json& j, int status = 200) {
  res.status = status;
  // invalid UTF-8 from a client (a binary body) is shown replaced rather than failing the echo
  res.set_content(j.dump(-1, ' ', false, Json::error_handler_t::replace), kJsonType);
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// name -> value, a repeated name -> list of values, in first-seen order
Json pairs_json(const std::vector<std::pair<std::string, std::string>>& pairs) {
  Json out = Json::object();
  for (const auto& [k, v] : pairs) {
    if (!out.contains(k)) out[k] = v;
    else if (out[k].is_array()) out[k].push_back(v);
    else out[k] = Json::array({out[k], v});
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> parse_pairs(const std::string& text) {
  // in the order sent (httplib's own parser sorts by name)
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto amp = text.find('&', start);
    const std::string pair = text.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    if (!pair.empty()) {
      const auto eq = pair.find('=');
      out.emplace_back(httplib::detail::decode_url(pair.substr(0, eq), true),
                       eq == std::string::npos ? "" : httplib::detail::decode_url(pair.substr(eq + 1), true));
    }
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return out;
}

std::string query_of(const httplib::Request& req) {
  const auto q = req.target.find('?');
  return q == std::string::npos ? "" : req.target.substr(q + 1);
}

Json cookies_of(const httplib::Request& req) {
  Json out = Json::object();
  const auto range = req.headers.equal_range("Cookie");
  for (auto it = range.first; it != range.second; ++it) {
    const std::string& line = it->second;
    std::size_t start = 0;
    while (start < line.size()) {
      auto end = line.find(';', start);
      if (end == std::string::npos) end = line.size();
      std::string item = line.substr(start, end - start);
      while (!item.empty() && item.front() == ' ') item.erase(0, 1);
      const auto eq = item.find('=');
      if (eq != std::string::npos) out[item.substr(0, eq)] = item.substr(eq + 1);
      start = end + 1;
    }
  }
  return out;
}

bool valid_utf8(const std::string& s) {
  try {
    (void)Json(s).dump();
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

void echo(const httplib::Request& req, httplib::Response& res) {
  Json j;
  j["method"] = req.method;
  j["path"] = req.path;
  j["query"] = pairs_json(parse_pairs(query_of(req)));
  std::vector<std::pair<std::string, std::string>> headers(req.headers.begin(), req.headers.end());
  Json h = Json::object();
  for (const auto& [k, v] : headers) {
    if (k == "REMOTE_ADDR" || k == "REMOTE_PORT" || k == "LOCAL_ADDR" || k == "LOCAL_PORT") continue;
    h[k] = h.contains(k) ? h[k].get<std::string>() + ", " + v : v;
  }
  j["headers"] = h;
  j["cookies"] = cookies_of(req);
  j["body"] = valid_utf8(req.body) ? Json(req.body) : Json(nullptr);
  j["body_size"] = req.body.size();
  const std::string type = req.get_header_value("Content-Type");
  j["json"] = nullptr;
  if (type.rfind("application/json", 0) == 0) {
    const Json parsed = Json::parse(req.body, nullptr, false);
    if (!parsed.is_discarded()) j["json"] = parsed;
  }
  Json form = Json::object(), files = Json::object();
  if (type.rfind("application/x-www-form-urlencoded", 0) == 0) {
    form = pairs_json(parse_pairs(req.body));
  } else if (req.is_multipart_form_data()) {
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& [name, part] : req.files) {
      if (part.filename.empty()) {
        fields.emplace_back(name, part.content);
      } else {
        files[name] = {{"filename", part.filename},
                       {"content_type", part.content_type},
                       {"size", part.content.size()},
                       {"hex", hex(part.content)}};
      }
    }
    form = pairs_json(fields);
  }
  j["form"] = form;
  j["files"] = files;
  send_json(res, j);
}

std::string session_of(const httplib::Request& req) {
  const Json cookies = cookies_of(req);
  return cookies.contains("session") ? cookies["session"].get<std::string>() : "";
}

}  // namespace

void add_demo_api(httplib::Server& s) {
  // API cases send many requests in a row on one connection; without TCP_NODELAY every
  // response waits for the client's delayed ACK (about 40 ms)
  s.set_keep_alive_max_count(100000);
  s.set_tcp_nodelay(true);

  for (const char* pattern : {"/api/anything", R"(/api/anything/.*)"}) {
    s.Get(pattern, echo);
    s.Post(pattern, echo);
    s.Put(pattern, echo);
    s.Patch(pattern, echo);
    s.Delete(pattern, echo);
    s.Options(pattern, echo);
  }

  s.Get("/api/cookies/set", [](const httplib::Request& req, httplib::Response& res) {
    Json set = Json::object();
    for (const auto& [k, v] : parse_pairs(query_of(req))) {
      res.headers.emplace("Set-Cookie", k + "=" + v + "; Path=/");
      set[k] = v;
    }
    send_json(res, {{"set", set}});
  });
  s.Get("/api/cookies/delete", [](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.get_param_value("name");
    res.headers.emplace("Set-Cookie", name + "=; Max-Age=0; Path=/");
    send_json(res, {{"deleted", name}});
  });
  s.Get("/api/cookies", [](const httplib::Request& req, httplib::Response& res) {
    send_json(res, {{"cookies", cookies_of(req)}});
  });

  s.Post("/api/login", [](const httplib::Request& req, httplib::Response& res) {
    const Json body = Json::parse(req.body, nullptr, false);
    const bool ok = body.is_object() && body.value("user", "") == kDemoUser && body.value("password", "") == kDemoPassword;
    if (!ok) return send_json(res, {{"code", 1}, {"error", "用户名或密码错误"}}, 401);
    res.headers.emplace("Set-Cookie", std::string("session=") + kDemoSession + "; Path=/; HttpOnly");
    send_json(res, {{"code", 0}, {"token", kDemoToken}, {"user", kDemoUser}});
  });
  s.Get("/api/me", [](const httplib::Request& req, httplib::Response& res) {
    const bool by_cookie = session_of(req) == kDemoSession;
    const bool by_token = req.get_header_value("Authorization") == std::string("Bearer ") + kDemoToken;
    if (!by_cookie && !by_token) return send_json(res, {{"code", 1}, {"error", "未登录"}}, 401);
    send_json(res, {{"code", 0}, {"user", kDemoUser}, {"by", by_cookie ? "cookie" : "token"}});
  });

  s.Get("/api/redirect", [](const httplib::Request& req, httplib::Response& res) {
    const std::string to = req.has_param("to") ? req.get_param_value("to") : "/api/anything";
    const int status = req.has_param("status") ? std::atoi(req.get_param_value("status").c_str()) : 302;
    res.status = (status >= 300 && status < 400) ? status : 302;
    res.set_header("Location", to);
    res.set_content(R"({"redirect":true})", kJsonType);
  });
  s.Post("/api/redirect", [](const httplib::Request& req, httplib::Response& res) {
    const std::string to = req.has_param("to") ? req.get_param_value("to") : "/api/anything";
    const int status = req.has_param("status") ? std::atoi(req.get_param_value("status").c_str()) : 302;
    res.status = (status >= 300 && status < 400) ? status : 302;
    res.set_header("Location", to);
    res.set_content(R"({"redirect":true})", kJsonType);
  });

  s.Get("/api/slow", [](const httplib::Request& req, httplib::Response& res) {
    const double seconds = std::clamp(std::atof(req.get_param_value("seconds").c_str()), 0.0, 10.0);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    send_json(res, {{"slept", seconds}});
  });

  s.Get(R"(/api/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    const int status = std::atoi(req.matches[1].str().c_str());
    send_json(res, {{"status", status}}, status >= 100 && status < 600 ? status : 400);
  });

  s.Get("/api/headers/repeat", [](const httplib::Request&, httplib::Response& res) {
    res.headers.emplace("X-Repeat", "one");
    res.headers.emplace("X-Repeat", "two");
    res.headers.emplace("Set-Cookie", "first=1; Path=/");
    res.headers.emplace("Set-Cookie", "second=2; Path=/");
    send_json(res, {{"repeated", true}});
  });

  s.Get("/api/chinese", [](const httplib::Request&, httplib::Response& res) {
    send_json(res, {{"message", "你好，世界"}, {"城市", {"北京", "上海"}}, {"数量", 2}});
  });

  s.Get("/api/items", [](const httplib::Request&, httplib::Response& res) {
    send_json(res, {{"total", 3},
                    {"items",
                     {{{"id", 1}, {"name", "苹果"}, {"price", 5.5}, {"tags", {"fruit"}}},
                      {{"id", 2}, {"name", "牛奶"}, {"price", 12}, {"tags", {"drink", "cold"}}},
                      {{"id", 3}, {"name", "面包"}, {"price", 8}, {"tags", Json::array()}}}}});
  });

  s.Get("/api/base", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content("http://" + req.get_header_value("Host"), "text/plain; charset=utf-8");
  });

  // Jobs finish on the third look, for cases that poll an API that works asynchronously.
  struct Jobs {
    std::mutex mutex;
    std::map<long, int> looks;  // job id -> times its state was read
    long next = 1;
  };
  const auto jobs = std::make_shared<Jobs>();
  s.Post("/api/jobs", [jobs](const httplib::Request&, httplib::Response& res) {
    std::lock_guard lock(jobs->mutex);
    const long id = jobs->next++;
    jobs->looks[id] = 0;
    send_json(res, {{"id", id}, {"state", "pending"}}, 201);
  });
  s.Get(R"(/api/jobs/(\d+))", [jobs](const httplib::Request& req, httplib::Response& res) {
    const long id = std::atol(req.matches[1].str().c_str());
    std::lock_guard lock(jobs->mutex);
    const auto it = jobs->looks.find(id);
    if (it == jobs->looks.end()) return send_json(res, {{"error", "没有这个任务"}}, 404);
    send_json(res, {{"id", id}, {"state", ++it->second >= 3 ? "done" : "pending"}});
  });
  s.Delete(R"(/api/jobs/(\d+))", [jobs](const httplib::Request& req, httplib::Response& res) {
    const long id = std::atol(req.matches[1].str().c_str());
    std::lock_guard lock(jobs->mutex);
    if (jobs->looks.erase(id) == 0) return send_json(res, {{"error", "没有这个任务"}}, 404);
    send_json(res, {{"deleted", id}});
  });

  s.Get("/api/text", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("这不是 JSON", "text/plain; charset=utf-8");
  });

  s.Get("/api/gbk", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("\xD6\xD0\xCE\xC4", "text/plain; charset=gbk");  // 中文
  });
}

}  // namespace tovik::examples
