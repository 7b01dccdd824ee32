#include "outside/allure/step.hpp"

#include <algorithm>

#include "support/base/errors.hpp"

namespace tovik::allure {
namespace {

// Shared so that a Step outliving its test scope can tell (weak_ptr) instead of dangling.
thread_local std::shared_ptr<TestContext> t_current;

void finish(StepResult& step) {
  step.stop = std::max(now_ms(), step.start);  // the wall clock may step back
  step.stage = Stage::Finished;
}

}  // namespace

Status status_of(const std::exception& e) {
  return dynamic_cast<const AssertionError*>(&e) ? Status::Failed : Status::Broken;
}

TestContext* current() { return t_current.get(); }

std::uint64_t TestContext::open(std::string title, std::vector<Parameter> params) {
  std::vector<StepResult>& siblings = open_.empty() ? result_.steps : open_.back().step->steps;
  StepResult& step = siblings.emplace_back();
  step.name = std::move(title);
  step.parameters = std::move(params);
  step.stage = Stage::Running;
  step.start = now_ms();
  const std::uint64_t id = next_id_++;
  open_.push_back({id, &step, false});
  return id;
}

StepResult* TestContext::find(std::uint64_t id) {
  for (auto& o : open_)
    if (o.id == id) return o.step;
  return nullptr;
}

void TestContext::mark(std::uint64_t id, Status status, std::string message) {
  for (auto& o : open_) {
    if (o.id != id) continue;
    o.step->status = status;
    o.step->statusDetails = {std::move(message), {}};
    o.status_set = true;
    return;
  }
}

void TestContext::close(std::uint64_t id, Status status) {
  const auto it = std::find_if(open_.begin(), open_.end(), [&](const Open& o) { return o.id == id; });
  if (it == open_.end()) return;  // closed already, with its parent or its test
  const auto index = static_cast<std::size_t>(it - open_.begin());
  while (open_.size() > index + 1) {
    Open& inner = open_.back();
    if (!inner.status_set) {
      inner.step->status = Status::Broken;
      inner.step->statusDetails.message = "step still open when its parent step ended";
    }
    finish(*inner.step);
    open_.pop_back();
  }
  Open& self = open_.back();
  if (!self.status_set) self.step->status = status;
  finish(*self.step);
  open_.pop_back();
}

void TestContext::close_all(const std::string& why) {
  while (!open_.empty()) {
    Open& o = open_.back();
    if (!o.status_set) {
      o.step->status = Status::Broken;
      o.step->statusDetails.message = why;
    }
    finish(*o.step);
    open_.pop_back();
  }
}

void TestContext::attach(StepResult* step, Attachment attachment) {
  if (sink_ && !attachment.content.empty()) sink_->take(attachment);
  (step ? step->attachments : result_.attachments).push_back(std::move(attachment));
}

ScopedTest::ScopedTest(TestResult& result, AttachmentSink* sink)
    : context_(std::make_shared<TestContext>(result, sink)), previous_(std::move(t_current)) {
  t_current = context_;
}

ScopedTest::~ScopedTest() {
  context_->close_all("step still open when the test ended");
  t_current = std::move(previous_);
}

Step::Step(std::string title, std::vector<Parameter> params) {
  TestContext* ctx = t_current.get();
  if (!ctx) return;
  context_ = t_current;
  id_ = ctx->open(std::move(title), std::move(params));
  uncaught_ = std::uncaught_exceptions();
}

Step::~Step() {
  const std::shared_ptr<TestContext> ctx = context_.lock();
  if (!ctx) return;
  // More exceptions in flight than at the start: this scope is being left by one.
  const bool unwinding = std::uncaught_exceptions() > uncaught_;
  ctx->close(id_, unwinding ? Status::Broken : Status::Passed);
}

StepResult* Step::result() {
  const std::shared_ptr<TestContext> ctx = context_.lock();
  return ctx ? ctx->find(id_) : nullptr;
}

void Step::fail(const std::exception& e) {
  if (const auto ctx = context_.lock()) ctx->mark(id_, status_of(e), describe_error(e));
}

void Step::broken(std::string message) {
  if (const auto ctx = context_.lock()) ctx->mark(id_, Status::Broken, std::move(message));
}

void Step::attach(std::string name, std::string type, std::string content) {
  if (StepResult* r = result())
    context_.lock()->attach(r, {std::move(name), std::move(type), {}, std::move(content)});
}

void Step::parameter(std::string name, std::string value, ParameterMode mode) {
  if (StepResult* r = result()) r->parameters.emplace_back(std::move(name), std::move(value), mode);
}

void attach(std::string name, std::string type, std::string content) {
  TestContext* ctx = t_current.get();
  if (!ctx) return;
  ctx->attach(ctx->innermost(), {std::move(name), std::move(type), {}, std::move(content)});
}

}  // namespace tovik::allure
