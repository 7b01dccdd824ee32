// The variable store of a run: saved variables in a YAML file, values extracted from responses,
// and the run's template globals. The run creates one and every case plug-in shares it.
#pragma once

#include <string>
#include <utility>

#include "outside/yamlplugin/globals.hpp"
#include "outside/yamlplugin/yaml_file.hpp"
#include "support/base/value.hpp"
#include "support/http/response.hpp"

namespace tovik {

class Exchange {
 public:
  // An empty path stands for "FileNotFoundError.yaml" in the current directory.
  explicit Exchange(const std::string& path = "", Value data = Value(), bool debug = false);

  // Extracts one value from a response and publishes it as a template global named var_name.
  // attr names a member of the response ("json", "text", "headers", ...) or is "str" (expr is
  // then the value itself). expr: "/..." extracts nothing, "$..." is JSONPath over the member,
  // anything else a regular expression over its text form. index picks among the matches.
  void extract(const http::Response& resp, const std::string& var_name, const std::string& attr,
               const Value& expr, const Value& index = Value(0));

  // Publishes a whole member of the response (status_code, elapsed_ms, headers, ...) as a
  // template global, in the same report step and with the same log line as extract. A body that
  // is not JSON gives the same stand-in mapping for "json". AttributeError for an unknown member.
  void extract_member(const http::Response& resp, const std::string& var_name, const std::string& attr);

  // Writes the plain template globals (numbers, texts, booleans, null) into the YAML file.
  void dump();
  // For a worker of a parallel run, whose controller alone writes the file: dump() then updates
  // the mapping and keeps what it changed for take_held(), without writing.
  void hold_writes() {
    hold_ = true;
    written_ = file.data();
  }
  // The entries dump() changed since the last call (held writes only).
  Dict take_held() { return std::exchange(held_, Dict()); }

  bool _debug;
  Value _data;
  yamlplugin::YamlFile file;
  // The run's template globals: what extract publishes and dump writes.
  yamlplugin::TemplateGlobals globals;

 private:
  // Logs and publishes one extracted value, then dumps when debugging.
  void publish(const std::string& var_name, const Value& value);
  bool hold_ = false;
  Dict held_;
  Dict written_;  // the mapping as the last dump() left it (held writes only)
};

}  // namespace tovik
