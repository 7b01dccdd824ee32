// The CA bundle a user names for a private CA. libcurl reads no such variable of its own (the
// curl program reads CURL_CA_BUNDLE); honouring the two usual ones lets a private CA be named
// without turning certificate verification off, which stays on.
#pragma once

#include <cstdlib>

namespace tovik::http {

// CURL_CA_BUNDLE, else SSL_CERT_FILE, when set and not empty; else null (the system's store).
inline const char* ca_bundle_from_env() {
  for (const char* var : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"})
    if (const char* file = std::getenv(var); file && *file) return file;
  return nullptr;
}

}  // namespace tovik::http
