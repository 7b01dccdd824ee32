// Recording steps into the test running on this thread. Code marks its work with Step (RAII) or
// step(title, params, fn); with no test current on the thread both do nothing but run the code.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "outside/allure/model.hpp"

namespace tovik::allure {

// AssertionError -> failed, any other error -> broken.
Status status_of(const std::exception& e);

// Where attachments go as they are made, so that a long case does not hold them all until it
// ends and their files are written while it runs.
class AttachmentSink {
 public:
  virtual ~AttachmentSink() = default;
  // Takes the attachment's content and names the file it goes to (attachment.source).
  virtual void take(Attachment& attachment) = 0;
};

// The test being recorded on a thread and the chain of its open steps. Made by ScopedTest;
// while it records, the TestResult's step lists belong to it and must not be changed directly.
class TestContext {
 public:
  TestContext(TestResult& result, AttachmentSink* sink) : result_(result), sink_(sink) {}
  TestContext(const TestContext&) = delete;
  TestContext& operator=(const TestContext&) = delete;

  TestResult& result() { return result_; }
  const std::string& case_name() const { return result_.fullName; }
  std::size_t open_steps() const { return open_.size(); }
  // The innermost open step, or null when none is open.
  StepResult* innermost() { return open_.empty() ? nullptr : open_.back().step; }
  // Adds an attachment to step (the test itself when null), through the sink when there is one.
  void attach(StepResult* step, Attachment attachment);

 private:
  friend class Step;
  friend class ScopedTest;

  struct Open {
    std::uint64_t id;
    StepResult* step;
    bool status_set;  // by fail()/broken(); closing keeps it then
  };

  std::uint64_t open(std::string title, std::vector<Parameter> params);
  StepResult* find(std::uint64_t id);
  void mark(std::uint64_t id, Status status, std::string message);
  // Closes id with status (unless marked before) and, first, any step still open inside it.
  void close(std::uint64_t id, Status status);
  void close_all(const std::string& why);

  TestResult& result_;
  AttachmentSink* sink_;
  // Each open step is the last child of the one before it, so these pointers stay valid while
  // children are added to the innermost step.
  std::vector<Open> open_;
  std::uint64_t next_id_ = 1;
};

// The test recorded on this thread, or null.
TestContext* current();

// Makes result the current test of this thread until the scope ends, then restores the previous
// one. Steps still open at the end are closed as broken. Attachments with content go to sink
// as they are made, when one is given.
class ScopedTest {
 public:
  explicit ScopedTest(TestResult& result, AttachmentSink* sink = nullptr);
  ~ScopedTest();
  ScopedTest(const ScopedTest&) = delete;
  ScopedTest& operator=(const ScopedTest&) = delete;

 private:
  std::shared_ptr<TestContext> context_;
  std::shared_ptr<TestContext> previous_;
};

// One step, nested under the innermost open step (or the test). Closes as passed, unless fail()
// or broken() was called or the scope is left by an exception, which makes it broken.
class Step {
 public:
  explicit Step(std::string title, std::vector<Parameter> params = {});
  ~Step();
  Step(const Step&) = delete;
  Step& operator=(const Step&) = delete;

  // failed or broken by the error kind; the message is describe_error(e).
  void fail(const std::exception& e);
  void broken(std::string message = {});
  void attach(std::string name, std::string type, std::string content);
  void parameter(std::string name, std::string value, ParameterMode mode = ParameterMode::Default);

 private:
  StepResult* result();

  // Weak: the test scope may end before the step does.
  std::weak_ptr<TestContext> context_;
  std::uint64_t id_ = 0;
  int uncaught_ = 0;
};

// Runs fn inside a Step; an exception marks the step by its kind and goes on unchanged.
template <class F>
auto step(std::string title, std::vector<Parameter> params, F&& fn) -> decltype(fn()) {
  Step s(std::move(title), std::move(params));
  try {
    return std::forward<F>(fn)();
  } catch (const std::exception& e) {
    s.fail(e);
    throw;
  }
}

template <class F>
auto step(std::string title, F&& fn) -> decltype(fn()) {
  return step(std::move(title), {}, std::forward<F>(fn));
}

// To the innermost open step, or the test itself when no step is open.
void attach(std::string name, std::string type, std::string content);

}  // namespace tovik::allure
