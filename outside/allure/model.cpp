#include "outside/allure/model.hpp"

#include <chrono>
#include <random>

namespace tovik::allure {

std::string_view to_string(Status status) {
  switch (status) {
    case Status::Passed: return "passed";
    case Status::Failed: return "failed";
    case Status::Broken: return "broken";
    case Status::Skipped: return "skipped";
  }
  return "unknown";
}

std::string_view to_string(Stage stage) {
  switch (stage) {
    case Stage::Scheduled: return "scheduled";
    case Stage::Running: return "running";
    case Stage::Finished: return "finished";
    case Stage::Pending: return "pending";
    case Stage::Interrupted: return "interrupted";
  }
  return "unknown";
}

std::string_view to_string(ParameterMode mode) {
  switch (mode) {
    case ParameterMode::Default: return "default";
    case ParameterMode::Masked: return "masked";
    case ParameterMode::Hidden: return "hidden";
  }
  return "default";
}

Parameter::Parameter(std::string name_, std::string value_, ParameterMode mode_)
    : name(std::move(name_)),
      value(mode_ == ParameterMode::Masked ? std::string(kMaskedValue) : std::move(value_)),
      mode(mode_) {}

std::string new_uuid() {
  // One generator per thread: no locking, and threads never share a sequence.
  thread_local std::mt19937_64 gen = [] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }();
  std::uint64_t hi = gen();
  std::uint64_t lo = gen();
  hi = (hi & ~std::uint64_t{0xF000}) | std::uint64_t{0x4000};              // version 4
  lo = (lo & ~(std::uint64_t{0xC} << 60)) | (std::uint64_t{0x8} << 60);  // variant 10xx

  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) out += '-';
    const std::uint64_t word = i < 16 ? hi : lo;
    const int shift = 60 - 4 * (i % 16);
    out += kHex[(word >> shift) & 0xF];
  }
  return out;
}

std::int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

namespace {

Json details_json(const StatusDetails& d) {
  Json j = Json::object();
  if (!d.message.empty()) j["message"] = d.message;
  if (!d.trace.empty()) j["trace"] = d.trace;
  return j;
}

Json attachments_json(const std::vector<Attachment>& attachments) {
  Json out = Json::array();
  for (const auto& a : attachments)
    out.push_back(Json{{"name", a.name}, {"source", a.source}, {"type", a.type}});
  return out;
}

Json parameters_json(const std::vector<Parameter>& parameters) {
  Json out = Json::array();
  for (const auto& p : parameters) {
    // Checked again here: a masked parameter may have been assigned a value after construction.
    const std::string& value =
        p.mode == ParameterMode::Masked ? std::string(kMaskedValue) : p.value;
    out.push_back(Json{{"name", p.name}, {"value", value}, {"mode", to_string(p.mode)}});
  }
  return out;
}

void put_if_set(Json& j, const char* key, const std::string& value) {
  if (!value.empty()) j[key] = value;
}

}  // namespace

Json to_json(const StepResult& step) {
  Json j = Json::object();
  j["name"] = step.name;
  j["status"] = to_string(step.status);
  j["statusDetails"] = details_json(step.statusDetails);
  j["stage"] = to_string(step.stage);
  Json steps = Json::array();
  for (const auto& s : step.steps) steps.push_back(to_json(s));
  j["steps"] = std::move(steps);
  j["attachments"] = attachments_json(step.attachments);
  j["parameters"] = parameters_json(step.parameters);
  j["start"] = step.start;
  j["stop"] = step.stop;
  return j;
}

Json to_json(const TestResult& test) {
  Json j = Json::object();
  j["uuid"] = test.uuid;
  put_if_set(j, "historyId", test.historyId);
  put_if_set(j, "testCaseId", test.testCaseId);
  j["name"] = test.name;
  j["fullName"] = test.fullName;
  put_if_set(j, "description", test.description);
  j["status"] = to_string(test.status);
  j["statusDetails"] = details_json(test.statusDetails);
  j["stage"] = to_string(test.stage);
  Json steps = Json::array();
  for (const auto& s : test.steps) steps.push_back(to_json(s));
  j["steps"] = std::move(steps);
  j["attachments"] = attachments_json(test.attachments);
  j["parameters"] = parameters_json(test.parameters);
  Json labels = Json::array();
  for (const auto& l : test.labels) labels.push_back(Json{{"name", l.name}, {"value", l.value}});
  j["labels"] = std::move(labels);
  Json links = Json::array();
  for (const auto& l : test.links)
    links.push_back(Json{{"name", l.name}, {"url", l.url}, {"type", l.type}});
  j["links"] = std::move(links);
  j["start"] = test.start;
  j["stop"] = test.stop;
  return j;
}

}  // namespace tovik::allure
