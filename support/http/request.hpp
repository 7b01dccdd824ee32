// An outgoing HTTP request as the client built it, and a file opened for uploading.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/base/value.hpp"
#include "support/http/url.hpp"

namespace tovik::http {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string method;  // upper case
  std::string url;     // absolute, query included
  UrlParts where;      // scheme, host, port and path of url
  // In the order sent. Host and Content-Length are listed as the transport will send them.
  HeaderList headers;
  std::string content;  // body bytes
  // The cookies given for this request (shared and per-request ones). The Cookie header adds
  // the cookies the server set; a redirect to another host drops these.
  Pairs cookies;
  // Seconds this request may take; 0 stands for the client's time-out.
  double timeout = 0;
  // body_text(content) once made (message_text.hpp): the log and the report show the same text
  mutable std::optional<std::string> shown_body;

  // First value of a header, compared without regard to case; empty when absent.
  std::string header(std::string_view name) const;
};

// A file opened for reading as raw bytes when it was added to a request. It stays open as long
// as something holds it; its bytes are read when the request is built.
class UploadFile : public Object {
 public:
  // OSError "[Errno N] <reason>: '<path>'" when the path cannot be opened for reading (missing,
  // no permission, a directory).
  static std::shared_ptr<UploadFile> open(const std::string& path);

  const std::string& path() const { return path_; }
  // The last part of the path, sent as the file name.
  std::string filename() const;
  // Every byte of the file, from its start.
  std::string read_all() const;

  std::string type_name() const override { return "BufferedReader"; }
  std::string repr() const override;

 private:
  UploadFile(std::string path, std::shared_ptr<std::FILE> file) : path_(std::move(path)), file_(std::move(file)) {}
  std::string path_;
  std::shared_ptr<std::FILE> file_;
};

// One file-upload field of a multipart body.
struct FilePart {
  std::string field;
  std::shared_ptr<UploadFile> file;
};

// A guess of the content type from the file name's extension; application/octet-stream when
// nothing fits.
std::string guess_content_type(const std::string& filename);

}  // namespace tovik::http
