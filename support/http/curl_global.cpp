#include "support/http/curl_global.hpp"

#include <curl/curl.h>

#include <mutex>

namespace tovik::http {

void init_curl_once() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace tovik::http
