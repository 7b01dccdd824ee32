// From the parts of a request (the client's shared settings and the request's own headers,
// cookies, query parameters, form fields and JSON) to the header lines, query pairs and body that
// go out, with the checks that keep every part sendable. Nothing here sends anything.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/base/value.hpp"
#include "support/http/cookie_jar.hpp"
#include "support/http/request.hpp"
#include "support/http/url.hpp"

namespace tovik::http {

// The parts of one request besides method and URL.
struct RequestParts {
  Dict headers, cookies, params;
  // Form fields: a mapping. Another value is an error when it is used, i.e. when it is not empty.
  Value data = Value(Dict{});
  // The JSON body when there are no files and no form fields.
  Value json = Value(Dict{});
  std::vector<FilePart> files;
  // A body given as it is (a YAML case's text `data`): it goes out unchanged, before all of the
  // above, with no Content-Type of its own.
  std::optional<std::string> content;
};

// An HTTP token: one or more letters, digits or !#$%&'*+-.^_`|~ (method, header and cookie names).
bool is_token(std::string_view s);
// ValueError unless name is an HTTP token and value holds no line break or NUL.
void check_header(std::string_view name, std::string_view value);
// ValueError unless name is a token and value holds nothing that would end or split the cookie.
void check_cookie(std::string_view name, std::string_view value);
// The text a value stands for in a header, cookie, query or form field: a text as it is, a number
// in its shortest form, true/false, none as empty. TypeError naming `what` for anything else.
std::string scalar_text(const Value& v, std::string_view what);

// Checks a shared setting before it replaces the old one: TypeError unless v is a mapping whose
// values scalar_text takes (lists of them too when lists); ValueError from check_cookie (cookie)
// or check_header (neither lists nor cookie) for a pair that cannot be sent. `what` names the
// setting in the messages.
void check_scalars(const Value& v, std::string_view what, bool lists, bool cookie);

// name -> text pairs of a mapping; when lists, a list value repeats its name once per item.
// TypeError as scalar_text, naming `what` and the name.
Pairs pairs_of(const Dict& d, std::string_view what, bool lists);

// base with the names of top replaced: every pair of such a name goes, and top's pairs of it stand
// in the place of the first; names base lacks go at the end. Names compare exactly.
Pairs overlay(Pairs base, const Pairs& top);

// Header lists; names compare without regard to case.
// Sets name to value in the place of the first header of that name, dropping the others.
void set_header(HeaderList& headers, const std::string& name, std::string value);
bool has_header(const HeaderList& headers, std::string_view name);
void remove_header(HeaderList& headers, std::string_view name);
// set_header for each pair of d, in d's order, after scalar_text (TypeError) and check_header
// (ValueError).
void apply_headers(HeaderList& headers, const Dict& d);

// The Cookie header of a request to url: the jar's cookies for it, with the given ones winning by
// name; empty when there are none.
std::string cookie_header(const CookieJar& jar, const UrlParts& url, const Pairs& given);

// A request body and the Content-Type that describes it.
struct Body {
  std::string content;
  std::string content_type;
};
// A raw content when given (ValueError when files or form fields come with it); else the first
// that applies: a multipart form of the form fields and files when there are files, a
// URL-encoded form when there are form fields, else the JSON text of parts.json. TypeError for
// form fields that are given but not a mapping, a field scalar_text does not take or a file part
// without a file; OSError when a file cannot be read.
Body request_body(const RequestParts& parts);

}  // namespace tovik::http
