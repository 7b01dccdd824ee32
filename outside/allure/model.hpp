// What an allure 2 report holds for one test: its result, nested steps, parameters, labels,
// links and attachments, and the JSON the report reads (<uuid>-result.json).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/base/value_json.hpp"

namespace tovik::allure {

enum class Status { Passed, Failed, Broken, Skipped };
enum class Stage { Scheduled, Running, Finished, Pending, Interrupted };
enum class ParameterMode { Default, Masked, Hidden };

// Lower-case names as allure writes them: "passed", "running", "masked".
std::string_view to_string(Status status);
std::string_view to_string(Stage stage);
std::string_view to_string(ParameterMode mode);

// What a masked parameter shows instead of its value.
inline constexpr std::string_view kMaskedValue = "******";

// A random version 4 UUID in lower case, e.g. "1b4e28ba-2fa1-41d2-883f-0016d3cca427".
// Safe to call from any thread.
std::string new_uuid();
// Wall-clock time in epoch milliseconds.
std::int64_t now_ms();

struct StatusDetails {
  std::string message;
  std::string trace;
  bool flaky = false;  // passed after failed attempts (the report shows it so)
};

struct Parameter {
  Parameter() = default;
  // A masked value is replaced right here, so the secret never enters the model.
  Parameter(std::string name, std::string value, ParameterMode mode = ParameterMode::Default);

  std::string name;
  std::string value;
  ParameterMode mode = ParameterMode::Default;
};

struct Label {
  std::string name;
  std::string value;
};

struct Link {
  std::string name;
  std::string url;
  std::string type;  // "link", "issue", "tms"
};

struct Attachment {
  std::string name;
  std::string type;     // MIME type, e.g. "text/plain"
  std::string source;   // file name in the results folder, set when written
  std::string content;  // bytes kept until the writer puts them into source
};

struct StepResult {
  std::string name;
  Status status = Status::Passed;
  StatusDetails statusDetails;
  Stage stage = Stage::Finished;
  std::vector<StepResult> steps;
  std::vector<Attachment> attachments;
  std::vector<Parameter> parameters;
  std::int64_t start = 0;  // epoch milliseconds
  std::int64_t stop = 0;
};

struct TestResult {
  std::string uuid = new_uuid();
  std::string historyId;
  std::string testCaseId;
  std::string name;
  std::string fullName;
  std::string description;
  Status status = Status::Passed;
  StatusDetails statusDetails;
  Stage stage = Stage::Finished;
  std::vector<StepResult> steps;
  std::vector<Attachment> attachments;
  std::vector<Parameter> parameters;
  std::vector<Label> labels;
  std::vector<Link> links;
  std::int64_t start = 0;
  std::int64_t stop = 0;
};

// The allure JSON shape: camelCase keys, every array present ([] when empty), empty optional
// texts (historyId, testCaseId, description, message, trace) left out. Masked parameters are
// written as kMaskedValue whatever they hold; attachment content is not part of it.
std::string to_json_text(const StepResult& step);
std::string to_json_text(const TestResult& test);

}  // namespace tovik::allure
