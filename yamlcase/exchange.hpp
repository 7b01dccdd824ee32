// The variable store of a run: saved variables in a YAML file, values extracted from responses,
// and the run's template globals. The run creates one and every case plug-in shares it.
#pragma once

#include <string>

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

  // Writes the plain template globals (numbers, texts, booleans, null) into the YAML file.
  void dump();

  bool _debug;
  Value _data;
  yamlplugin::YamlFile file;
  // The run's template globals: what extract publishes and dump writes.
  yamlplugin::TemplateGlobals globals;
};

}  // namespace tovik
