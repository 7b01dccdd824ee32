// libcurl's process-wide set-up, done once before the first handle whoever makes it (the HTTP
// client, the WebDriver client, the mail channel): curl_global_init is not thread-safe itself.
#pragma once

namespace tovik::http {

void init_curl_once();

}  // namespace tovik::http
