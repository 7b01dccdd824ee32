// The JSON API of the demo target that the API cases test, all below /api/:
//   /api/anything[/...]      any method: echoes method, path, query, headers, cookies, body, JSON,
//                            form fields and uploaded files (name, type, size, bytes in hex)
//   /api/cookies/set?k=v     sets the cookies named in the query (Path=/)
//   /api/cookies/delete?name=k   expires cookie k
//   /api/login               POST JSON {"user": "tovik", "password": "secret"}: a token and a
//                            session cookie; 401 otherwise
//   /api/me                  200 with the session cookie or "Authorization: Bearer <token>", else 401
//   /api/redirect?to=P&status=N   a redirect (302 by default) to P (/api/anything by default)
//   /api/slow?seconds=S      answers after S seconds (at most 10)
//   /api/status/N            answers with status N
//   /api/headers/repeat      repeated X-Repeat and Set-Cookie headers
//   /api/chinese             JSON with Chinese text
//   /api/items               a small JSON catalogue for JSONPath selections
//   /api/base                the address the request was sent to, as plain text
//   /api/jobs                POST: a new job {"id": N, "state": "pending"} (201)
//   /api/jobs/N              GET: its state, "pending" for the first two looks, then "done";
//                            DELETE: removes it (404 for a job that does not exist)
//   /api/text                a body that is not JSON
//   /api/gbk                 text in GBK, declared as charset=gbk
#pragma once

namespace httplib {
class Server;
}

namespace tovik::examples {

inline constexpr const char* kDemoUser = "tovik";
inline constexpr const char* kDemoPassword = "secret";
inline constexpr const char* kDemoToken = "demo-token-7f3a";
inline constexpr const char* kDemoSession = "demo-session-42";

// Adds the routes above and lets clients keep a connection for many requests.
void add_demo_api(httplib::Server& server);

}  // namespace tovik::examples
