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

// The result file's JSON written straight out: a case of thousands of steps built as a tree of
// JSON values first took several times the memory of the case itself.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void test(const TestResult& t) {
    out_ += '{';
    field("uuid", t.uuid);
    if (!t.historyId.empty()) field("historyId", t.historyId);
    if (!t.testCaseId.empty()) field("testCaseId", t.testCaseId);
    field("name", t.name);
    field("fullName", t.fullName);
    if (!t.description.empty()) field("description", t.description);
    common(t.status, t.statusDetails, t.stage, t.steps, t.attachments, t.parameters);
    key("labels");
    list(t.labels, [&](const Label& l) {
      out_ += '{';
      field("name", l.name);
      field("value", l.value);
      out_ += '}';
    });
    key("links");
    list(t.links, [&](const Link& l) {
      out_ += '{';
      field("name", l.name);
      field("url", l.url);
      field("type", l.type);
      out_ += '}';
    });
    number("start", t.start);
    number("stop", t.stop);
    out_ += '}';
  }

  void step(const StepResult& s) {
    out_ += '{';
    field("name", s.name);
    common(s.status, s.statusDetails, s.stage, s.steps, s.attachments, s.parameters);
    number("start", s.start);
    number("stop", s.stop);
    out_ += '}';
  }

 private:
  void key(const char* name) {
    if (out_.back() != '{') out_ += ',';
    append_json_text(out_, name);
    out_ += ':';
  }
  void field(const char* name, std::string_view value) {
    key(name);
    append_json_text(out_, value);
  }
  void number(const char* name, std::int64_t value) {
    key(name);
    out_ += std::to_string(value);
  }
  template <class T, class F>
  void list(const std::vector<T>& items, F each) {
    out_ += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i) out_ += ',';
      each(items[i]);
    }
    out_ += ']';
  }
  // What steps and tests share, in the order the files have always had it.
  void common(Status status, const StatusDetails& details, Stage stage, const std::vector<StepResult>& steps,
              const std::vector<Attachment>& attachments, const std::vector<Parameter>& parameters) {
    field("status", to_string(status));
    key("statusDetails");
    out_ += '{';
    if (!details.message.empty()) field("message", details.message);
    if (!details.trace.empty()) field("trace", details.trace);
    if (details.flaky) {
      key("flaky");
      out_ += "true";
    }
    out_ += '}';
    field("stage", to_string(stage));
    key("steps");
    list(steps, [&](const StepResult& s) { step(s); });
    key("attachments");
    list(attachments, [&](const Attachment& a) {
      out_ += '{';
      field("name", a.name);
      field("source", a.source);
      field("type", a.type);
      out_ += '}';
    });
    key("parameters");
    list(parameters, [&](const Parameter& p) {
      out_ += '{';
      field("name", p.name);
      // checked again here: a masked parameter may have been given a value after construction
      field("value", p.mode == ParameterMode::Masked ? std::string_view(kMaskedValue) : std::string_view(p.value));
      field("mode", to_string(p.mode));
      out_ += '}';
    });
  }

  std::string& out_;
};

}  // namespace

std::string to_json_text(const StepResult& step) {
  std::string out;
  Writer(out).step(step);
  return out;
}

std::string to_json_text(const TestResult& test) {
  std::string out;
  Writer(out).test(test);
  return out;
}

}  // namespace tovik::allure
