// YAML case files: how a test_*.yaml file becomes cases of the run.
//
// A file holds one case (a mapping with `steps`) or several under `cases:`, beside which the
// file may give defaults for all of them: base_url, type, tags, fixtures, variables. A case has
//   name        shown in reports (default: the file's name without extension)
//   type        keyword class: web, app, api or all (default all)
//   tags, fixtures, skip (true or a reason), variables (a mapping), base_url
//   timeout     seconds the case may run; reruns   times it runs again after a failure
//   group       a parallel run keeps the cases of one group on one worker, in order
//   parametrize a list of mappings, or {file: data.csv | .yaml | .json} beside the YAML file:
//               one case per row, named name[id] (the row's id, else its number)
//   setup, steps, teardown   step lists; teardown runs whatever happened before it
// A step is a keyword call {keyword: name, args: [...]} or a request {request: {...}} with
// optional extract, validate, text_asserts and retry. Steps keep their place in the file (line)
// and their number in the case, for every message that names them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "runner/case.hpp"

namespace tovik::runner {

// Larger case files are refused rather than read: no real case file comes near it.
inline constexpr std::uintmax_t kMaxYamlCaseBytes = 16u << 20;

// The keys each level takes (the editor schema lists the same).
inline const std::vector<std::string> kFileKeys = {"cases", "base_url", "type", "tags", "fixtures", "variables"};
inline const std::vector<std::string> kCaseKeys = {"name",     "type",        "tags",  "skip",  "fixtures", "variables",
                                                   "base_url", "parametrize", "setup", "steps", "teardown", "timeout",
                                                   "reruns",   "group"};
inline const std::vector<std::string> kStepKeys = {"name",     "keyword",      "args", "request", "extract",
                                                   "validate", "text_asserts", "retry"};
inline const std::vector<std::string> kRetryKeys = {"times", "interval", "until"};

// The fields a request step's `request` mapping may hold.
inline constexpr const char* kRequestFields[] = {"method", "url",  "params", "headers", "cookies",
                                                 "json",   "data", "files",  "timeout"};

// The cases of one file. A file that cannot be read as a whole (YAML syntax, too large, no case)
// is a ValueError naming the file and, where known, line and column; a case that is malformed
// comes back with `broken` set, naming file, line and step, and the other cases stand.
std::vector<TestCase> read_yaml_cases(const std::filesystem::path& file, const std::string& shown_path);

}  // namespace tovik::runner
