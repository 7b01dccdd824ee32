#include "support/http/multipart.hpp"

#include <random>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"

namespace tovik::http {

namespace {

std::string escape_form_name(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '"') out += "%22";
    else if (c == '\r') out += "%0D";
    else if (c == '\n') out += "%0A";
    else out += c;
  }
  return out;
}

}  // namespace

std::string new_boundary() {
  static thread_local std::mt19937_64 gen(std::random_device{}());
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 32; ++i) out += kHex[gen() & 15];
  return out;
}

std::string multipart_body(const Pairs& fields, const std::vector<FilePart>& files, const std::string& boundary) {
  std::string body;
  for (const auto& [k, v] : fields)
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + escape_form_name(k) + "\"\r\n\r\n" + v + "\r\n";
  for (const auto& f : files) {
    if (!f.file) throw TypeError("文件上传参数 " + repr_text(f.field) + " 没有文件");
    const std::string name = f.file->filename();
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + escape_form_name(f.field) +
            "\"; filename=\"" + escape_form_name(name) + "\"\r\nContent-Type: " + guess_content_type(name) +
            "\r\n\r\n" + f.file->read_all() + "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  return body;
}

}  // namespace tovik::http
