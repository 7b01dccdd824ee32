#include "outside/host/config.hpp"

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"

namespace tovik::host {

Value Config::getoption(const std::string& dest) const {
  if (const Value* v = options.find(dest)) return *v;
  throw ValueError("no option named '" + dest + "'");
}

std::string Config::text_option(const std::string& dest) const {
  const Value v = getoption(dest);
  return v.is_none() ? std::string() : str(v);
}

std::int64_t Config::int_option(const std::string& dest) const {
  const Value v = getoption(dest);
  return v.is_int() ? v.as_int() : 0;
}

bool Config::flag_option(const std::string& dest) const { return getoption(dest).truthy(); }

std::string Config::ini(const std::string& key, const std::string& fallback) const {
  for (const auto& [k, v] : ini_values)
    if (k == key) return v;
  return fallback;
}

bool Config::has_ini(const std::string& key) const {
  for (const auto& [k, v] : ini_values)
    if (k == key) return true;
  return false;
}

}  // namespace tovik::host
