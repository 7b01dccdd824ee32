// Standard Base64 (OpenSSL), for the DingTalk signature and the mail's encoded parts.
#pragma once

#include <openssl/evp.h>

#include <string>
#include <string_view>

namespace tovik::sender {

inline std::string base64(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace tovik::sender
