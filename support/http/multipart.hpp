// multipart/form-data bodies: the form of a request that uploads files.
#pragma once

#include <string>
#include <vector>

#include "support/http/request.hpp"
#include "support/http/url.hpp"

namespace tovik::http {

// 32 random hexadecimal digits, different for every body.
std::string new_boundary();

// One part per field (in order, values as given), then one per file with its file name and a
// content type guessed from that name, then the closing boundary. A quote, CR or LF in a field
// or file name is percent-encoded. TypeError naming the field for a file part without a file;
// OSError when a file cannot be read.
std::string multipart_body(const Pairs& fields, const std::vector<FilePart>& files, const std::string& boundary);

}  // namespace tovik::http
