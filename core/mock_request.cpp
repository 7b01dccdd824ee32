#include "core/mock_request.hpp"

#include "support/base/errors.hpp"

namespace tovik {

MockRequest::Fields::Fields(MockRequest& r)
    : entries_{{{"headers", &r.headers},
                {"cookies", &r.cookies},
                {"params", &r.params},
                {"data", &r.data},
                {"json", &r.json},
                {"files", &r.files}}} {}

Value& MockRequest::Fields::at(std::string_view name) const {
  for (const auto& [k, v] : entries_)
    if (k == name) return *v;
  throw KeyError("'" + std::string(name) + "'");
}

}  // namespace tovik
