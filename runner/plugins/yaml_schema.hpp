// The editor schema of YAML case files (JSON Schema, draft 2020-12): editors with a YAML language
// server validate and complete test_*.yaml files with it, keyword names and their parameters
// included.
#pragma once

#include <string>

namespace tovik::runner {

// The schema as JSON text. Loads the keyword library for the keyword names.
std::string yaml_case_schema();

}  // namespace tovik::runner
