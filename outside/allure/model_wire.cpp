#include "outside/allure/model_wire.hpp"

#include "support/base/errors.hpp"
#include "support/base/wire.hpp"

namespace tovik::allure {

namespace {

void put(WireOut& w, const StatusDetails& d) { w.text(d.message).text(d.trace).flag(d.flaky); }

void put(WireOut& w, const std::vector<Attachment>& attachments) {
  w.number(static_cast<std::int64_t>(attachments.size()));
  for (const auto& a : attachments) w.text(a.name).text(a.type).text(a.source).text(a.content);
}

void put(WireOut& w, const std::vector<Parameter>& parameters) {
  w.number(static_cast<std::int64_t>(parameters.size()));
  for (const auto& p : parameters) w.text(p.name).text(p.value).number(static_cast<std::int64_t>(p.mode));
}

void put(WireOut& w, const std::vector<StepResult>& steps) {
  w.number(static_cast<std::int64_t>(steps.size()));
  for (const auto& s : steps) {
    w.text(s.name).number(static_cast<std::int64_t>(s.status)).number(static_cast<std::int64_t>(s.stage));
    put(w, s.statusDetails);
    put(w, s.steps);
    put(w, s.attachments);
    put(w, s.parameters);
    w.number(s.start).number(s.stop);
  }
}

template <class E>
E enum_of(WireIn& r, E last) {
  const std::int64_t n = r.number();
  if (n < 0 || n > static_cast<std::int64_t>(last)) throw ValueError("数据已损坏：未知的状态值 " + std::to_string(n));
  return static_cast<E>(n);
}

StatusDetails get_details(WireIn& r) {
  StatusDetails d;
  d.message = r.text();
  d.trace = r.text();
  d.flaky = r.flag();
  return d;
}

std::vector<Attachment> get_attachments(WireIn& r) {
  std::vector<Attachment> out(r.count());
  for (auto& a : out) {
    a.name = r.text();
    a.type = r.text();
    a.source = r.text();
    a.content = r.text();
  }
  return out;
}

std::vector<Parameter> get_parameters(WireIn& r) {
  std::vector<Parameter> out(r.count());
  for (auto& p : out) {
    p.name = r.text();
    p.value = r.text();  // masked values were replaced before they entered the model
    p.mode = enum_of(r, ParameterMode::Hidden);
  }
  return out;
}

std::vector<StepResult> get_steps(WireIn& r) {
  std::vector<StepResult> out(r.count());
  for (auto& s : out) {
    s.name = r.text();
    s.status = enum_of(r, Status::Skipped);
    s.stage = enum_of(r, Stage::Interrupted);
    s.statusDetails = get_details(r);
    s.steps = get_steps(r);
    s.attachments = get_attachments(r);
    s.parameters = get_parameters(r);
    s.start = r.number();
    s.stop = r.number();
  }
  return out;
}

}  // namespace

std::string to_wire(const TestResult& t) {
  WireOut w;
  w.text(t.uuid).text(t.historyId).text(t.testCaseId).text(t.name).text(t.fullName).text(t.description);
  w.number(static_cast<std::int64_t>(t.status)).number(static_cast<std::int64_t>(t.stage));
  put(w, t.statusDetails);
  put(w, t.steps);
  put(w, t.attachments);
  put(w, t.parameters);
  w.number(static_cast<std::int64_t>(t.labels.size()));
  for (const auto& l : t.labels) w.text(l.name).text(l.value);
  w.number(static_cast<std::int64_t>(t.links.size()));
  for (const auto& l : t.links) w.text(l.name).text(l.url).text(l.type);
  w.number(t.start).number(t.stop);
  return w.take();
}

TestResult from_wire(std::string_view bytes) {
  WireIn r(bytes);
  TestResult t;
  t.uuid = r.text();
  t.historyId = r.text();
  t.testCaseId = r.text();
  t.name = r.text();
  t.fullName = r.text();
  t.description = r.text();
  t.status = enum_of(r, Status::Skipped);
  t.stage = enum_of(r, Stage::Interrupted);
  t.statusDetails = get_details(r);
  t.steps = get_steps(r);
  t.attachments = get_attachments(r);
  t.parameters = get_parameters(r);
  t.labels.resize(r.count());
  for (auto& l : t.labels) {
    l.name = r.text();
    l.value = r.text();
  }
  t.links.resize(r.count());
  for (auto& l : t.links) {
    l.name = r.text();
    l.url = r.text();
    l.type = r.text();
  }
  t.start = r.number();
  t.stop = r.number();
  if (!r.at_end()) throw ValueError("数据已损坏：测试结果之后还有多余的数据");
  return t;
}

}  // namespace tovik::allure
