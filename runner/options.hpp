// Command-line options of a run. Plug-ins declare their options; parsing fills a Config.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/base/errors.hpp"
#include "support/base/value.hpp"

namespace tovik::runner {

// A mistake on the command line or in [pytest] addopts: exit status 4.
class UsageError : public Error {
 public:
  using Error::Error;
  const char* kind() const noexcept override { return "UsageError"; }
};

struct OptionDecl {
  std::vector<std::string> flags;  // "-k", "--maxfail"
  std::string dest;                // getoption() name
  enum class Action { Store, StoreTrue, Count, Append } action = Action::Store;
  Value default_value;
  std::string metavar;
  std::string help;
  enum class Type { Text, Integer } type = Type::Text;
  bool hidden = false;  // left out of --help (the runner's own plumbing)
};

class OptionParser {
 public:
  void add(OptionDecl entry);
  const std::vector<OptionDecl>& options() const { return options_; }

  struct Parsed {
    Dict values;                     // dest -> value (defaults for options not given)
    std::vector<std::string> paths;  // positional arguments
  };
  // Long options take "--opt value" and "--opt=value"; short ones "-k expr" and "-kexpr";
  // flags combine ("-vx"). "--" ends the options. Unknown options are a UsageError.
  Parsed parse(const std::vector<std::string>& args) const;
  // One line per option, for --help.
  std::string help() const;

 private:
  const OptionDecl* find(std::string_view flag) const;
  std::vector<OptionDecl> options_;
};

}  // namespace tovik::runner
