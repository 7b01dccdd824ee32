// libcurl, loaded when first used. libcurl brings some thirty libraries of its own (HTTP/2, IDN,
// RTMP, SSH, Kerberos, LDAP, ...); loading them took most of tovik's start-up, also for runs
// that send no request. So nothing links libcurl: this file defines the part of its API that
// tovik calls, and each call goes to the real function, found with dlopen/dlsym the first time
// any is called. The library that cannot be loaded is an OSError naming it.
#define CURL_DISABLE_TYPECHECK  // the real declarations, not the type-checking macros
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <mutex>
#include <string>

#include "support/base/errors.hpp"

namespace {

constexpr const char* kLibrary = "libcurl.so.4";

void* library() {
  static void* handle = nullptr;
  static std::once_flag once;
  static std::string failure;
  std::call_once(once, [] {
    handle = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      failure = why ? why : "unknown reason";
    }
  });
  if (!handle) throw tovik::OSError(std::string("无法加载 ") + kLibrary + "（HTTP 客户端需要 libcurl）: " + failure);
  return handle;
}

// The real function of that name, looked up once per name.
template <class F>
F real(const char* name) {
  void* f = ::dlsym(library(), name);
  if (!f) throw tovik::OSError(std::string(kLibrary) + " 中没有 " + name);
  return reinterpret_cast<F>(f);
}

#define TOVIK_CURL_REAL(name) \
  static const auto fn = real<decltype(&::name)>(#name)

}  // namespace

// The last named parameters of the two variadic functions are enums, as libcurl declares them;
// clang warns that an enum might be promoted, but these are int-sized, as libcurl itself relies on.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wvarargs"
#endif

extern "C" {

CURLcode curl_global_init(long flags) {
  TOVIK_CURL_REAL(curl_global_init);
  return fn(flags);
}

CURL* curl_easy_init(void) {
  TOVIK_CURL_REAL(curl_easy_init);
  return fn();
}

void curl_easy_cleanup(CURL* h) {
  TOVIK_CURL_REAL(curl_easy_cleanup);
  fn(h);
}

// The argument's type follows from the option's number, as in libcurl itself.
CURLcode curl_easy_setopt(CURL* h, CURLoption option, ...) {
  using Long = CURLcode (*)(CURL*, CURLoption, long);
  using Pointer = CURLcode (*)(CURL*, CURLoption, void*);
  using Offset = CURLcode (*)(CURL*, CURLoption, curl_off_t);
  // one variadic function, called with each of the three argument types
  static const auto as_long = real<Long>("curl_easy_setopt");
  static const auto as_pointer = real<Pointer>("curl_easy_setopt");
  static const auto as_offset = real<Offset>("curl_easy_setopt");
  va_list ap;
  va_start(ap, option);
  CURLcode rc;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    rc = as_long(h, option, va_arg(ap, long));
  } else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB) {
    rc = as_offset(h, option, va_arg(ap, curl_off_t));
  } else {  // data, texts, lists, callbacks and blobs: all pointers
    rc = as_pointer(h, option, va_arg(ap, void*));
  }
  va_end(ap);
  return rc;
}

CURLcode curl_easy_getinfo(CURL* h, CURLINFO info, ...) {
  using Pointer = CURLcode (*)(CURL*, CURLINFO, void*);
  static const auto fn = real<Pointer>("curl_easy_getinfo");
  va_list ap;
  va_start(ap, info);
  void* where = va_arg(ap, void*);  // every kind of information is written through a pointer
  va_end(ap);
  return fn(h, info, where);
}

CURLcode curl_easy_perform(CURL* h) {
  TOVIK_CURL_REAL(curl_easy_perform);
  return fn(h);
}

const char* curl_easy_strerror(CURLcode code) {
  TOVIK_CURL_REAL(curl_easy_strerror);
  return fn(code);
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  TOVIK_CURL_REAL(curl_slist_append);
  return fn(list, text);
}

void curl_slist_free_all(curl_slist* list) {
  TOVIK_CURL_REAL(curl_slist_free_all);
  fn(list);
}

CURLM* curl_multi_init(void) {
  TOVIK_CURL_REAL(curl_multi_init);
  return fn();
}

CURLMcode curl_multi_cleanup(CURLM* m) {
  TOVIK_CURL_REAL(curl_multi_cleanup);
  return fn(m);
}

CURLMcode curl_multi_add_handle(CURLM* m, CURL* h) {
  TOVIK_CURL_REAL(curl_multi_add_handle);
  return fn(m, h);
}

CURLMcode curl_multi_remove_handle(CURLM* m, CURL* h) {
  TOVIK_CURL_REAL(curl_multi_remove_handle);
  return fn(m, h);
}

CURLMcode curl_multi_perform(CURLM* m, int* running) {
  TOVIK_CURL_REAL(curl_multi_perform);
  return fn(m, running);
}

CURLMcode curl_multi_poll(CURLM* m, struct curl_waitfd extra[], unsigned int count, int timeout_ms, int* ready) {
  TOVIK_CURL_REAL(curl_multi_poll);
  return fn(m, extra, count, timeout_ms, ready);
}

CURLMsg* curl_multi_info_read(CURLM* m, int* left) {
  TOVIK_CURL_REAL(curl_multi_info_read);
  return fn(m, left);
}

const char* curl_multi_strerror(CURLMcode code) {
  TOVIK_CURL_REAL(curl_multi_strerror);
  return fn(code);
}

CURLU* curl_url(void) {
  TOVIK_CURL_REAL(curl_url);
  return fn();
}

void curl_url_cleanup(CURLU* u) {
  TOVIK_CURL_REAL(curl_url_cleanup);
  fn(u);
}

CURLUcode curl_url_get(CURLU* u, CURLUPart part, char** out, unsigned int flags) {
  TOVIK_CURL_REAL(curl_url_get);
  return fn(u, part, out, flags);
}

CURLUcode curl_url_set(CURLU* u, CURLUPart part, const char* text, unsigned int flags) {
  TOVIK_CURL_REAL(curl_url_set);
  return fn(u, part, text, flags);
}

const char* curl_url_strerror(CURLUcode code) {
  TOVIK_CURL_REAL(curl_url_strerror);
  return fn(code);
}

time_t curl_getdate(const char* text, const time_t* unused) {
  TOVIK_CURL_REAL(curl_getdate);
  return fn(text, unused);
}

void curl_free(void* p) {
  TOVIK_CURL_REAL(curl_free);
  fn(p);
}

}  // extern "C"
