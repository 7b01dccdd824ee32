#include "runner/worker_protocol.hpp"

#include <gtest/gtest.h>

#include "runner/controller.hpp"
#include "runner/plugin.hpp"
#include "support/base/errors.hpp"

namespace tovik::runner {
namespace {

class Owner : public Plugin {
 public:
  std::string name() const override { return "tovik.pytest"; }
};

TestCase sample_case(Plugin* owner) {
  TestCase tc;
  tc.nodeid = "cases/test_a.xlsx::登录";
  tc.file = "cases/test_a.xlsx";
  tc.name = "登录";
  tc.owner = owner;
  tc.marks.fixtures = {"browser"};
  tc.marks.tags = {"smoke", "冒烟"};
  tc.marks.timeout = 2.5;
  tc.marks.reruns = 0;  // "never", not "not given"
  tc.marks.group = "会话";
  CaseStep step;
  step.file = tc.file;
  step.sheet = "登录";
  step.row = 3;
  step.number = "1";
  step.keyword = "assert";
  step.args = List{Value(1), Value(2.0), Value::integer("123456789012345678901234567890"), Value("a\0b"),
                   Value(), Value(true), Value::tuple({Value(1)}), Value(Dict{{"k", Value(List{})}})};
  tc.steps = {step, step};
  tc.steps[1].row = 4;
  tc.teardown = {step};
  tc.variables.set("user", Value("tovik"));
  return tc;
}

// A case reaches the worker as collected: every mark, including "0 reruns" against "none given",
// and arguments of every kind, big integers, tuples against lists and NUL bytes included.
TEST(WorkerProtocol, ACaseTravelsWhole) {
  Owner owner;
  const TestCase tc = sample_case(&owner);
  const TestCase back = decode_case(encode_case(tc), {&owner});
  EXPECT_EQ(back.nodeid, tc.nodeid);
  EXPECT_EQ(back.owner, &owner);
  EXPECT_EQ(back.marks.tags, tc.marks.tags);
  EXPECT_EQ(back.marks.timeout, 2.5);
  EXPECT_EQ(back.marks.reruns, 0);
  EXPECT_FALSE(back.marks.skip.has_value());
  EXPECT_EQ(back.marks.group, "会话");
  ASSERT_EQ(back.steps.size(), 2u);
  EXPECT_EQ(back.steps[1].row, 4);
  EXPECT_TRUE(Value(back.steps[0].args) == Value(tc.steps[0].args));
  EXPECT_TRUE(back.steps[0].args[6].is_tuple());
  EXPECT_TRUE(back.steps[0].args[2].is_big_int());
  EXPECT_EQ(back.teardown.size(), 1u);
  EXPECT_TRUE(back.variables == tc.variables);

  EXPECT_THROW(decode_case(encode_case(tc), {}), ValueError);  // no plug-in of that name
  const std::string bytes = encode_case(tc);
  EXPECT_THROW(decode_case(std::string_view(bytes).substr(0, bytes.size() / 2), {&owner}), ValueError);
}

// The controller's report points into its own copy of the case, at the step the worker's pointed
// at; what plug-ins carried, saved values and log lines come along.
TEST(WorkerProtocol, AReportPointsIntoTheControllersCase) {
  Owner owner;
  const TestCase worker_copy = sample_case(&owner), controller_copy = sample_case(&owner);
  CaseReport r;
  r.test = &worker_copy;
  r.outcome = Outcome::Failed;
  r.error_kind = "AssertionError";
  r.message = "1 != 2";
  r.when = "call";
  r.step = &worker_copy.steps[1];
  r.log = "INFO x";
  r.rerun = true;
  r.start_ms = 10;
  r.stop_ms = 20;
  r.carried["allure"] = std::string("\0\1", 2);
  const std::string record = encode_report(r, Dict{{"token", Value("t")}}, "lines");

  Dict saved;
  std::string lines;
  const CaseReport back = decode_report(record, controller_copy, saved, lines);
  EXPECT_EQ(back.test, &controller_copy);
  EXPECT_EQ(back.step, &controller_copy.steps[1]);
  EXPECT_EQ(back.outcome, Outcome::Failed);
  EXPECT_EQ(back.message, "1 != 2");
  EXPECT_TRUE(back.rerun);
  EXPECT_EQ(back.stop_ms, 20);
  EXPECT_EQ(back.carried.at("allure"), std::string("\0\1", 2));
  EXPECT_TRUE(saved == (Dict{{"token", Value("t")}}));
  EXPECT_EQ(lines, "lines");

  r.step = &worker_copy.teardown[0];
  EXPECT_EQ(decode_report(encode_report(r, {}, ""), controller_copy, saved, lines).step, &controller_copy.teardown[0]);
  TestCase other = sample_case(&owner);
  other.nodeid = "other";
  EXPECT_THROW(decode_report(record, other, saved, lines), ValueError);
}

// Frames come out whole however the bytes arrive; a header that is not one is an error.
TEST(WorkerProtocol, FramesAreCutWholeFromWhatArrives) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  FrameReader reader;
  const std::string payload("a\nb\0c", 5);
  ASSERT_TRUE(write_frame(fds[1], "report", payload));
  ASSERT_TRUE(write_frame(fds[1], "ready", ""));
  // a frame split in two writes
  ASSERT_EQ(::write(fds[1], "run 4\nab", 8), 8);
  ASSERT_TRUE(reader.fill(fds[0]));
  auto f = reader.next();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->kind, "report");
  EXPECT_EQ(f->payload, payload);
  f = reader.next();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->kind, "ready");
  EXPECT_FALSE(reader.next());
  ASSERT_EQ(::write(fds[1], "cd", 2), 2);
  ASSERT_TRUE(reader.fill(fds[0]));
  f = reader.next();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->payload, "abcd");
  ::close(fds[1]);
  EXPECT_FALSE(reader.fill(fds[0]));
  ::close(fds[0]);

  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "run x\n", 6), 6);
  FrameReader bad;
  ASSERT_TRUE(bad.fill(fds[0]));
  EXPECT_THROW(bad.next(), ValueError);
  ::close(fds[0]);
  ::close(fds[1]);
}

// load: one case at a time, a group together at its first case's place, in collection order;
// loadfile: a file's cases together.
TEST(WorkUnits, GroupsAndFilesStayTogetherInOrder) {
  std::vector<TestCase> cases(6);
  const char* files[] = {"a", "b", "a", "b", "a", "c"};
  const char* groups[] = {"", "g", "", "", "g", "g"};
  std::vector<const TestCase*> all;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    cases[i].file = files[i];
    cases[i].marks.group = groups[i];
    all.push_back(&cases[i]);
  }
  const auto ids = [&](const std::vector<std::vector<const TestCase*>>& units) {
    std::vector<std::vector<std::size_t>> out;
    for (const auto& u : units) {
      out.emplace_back();
      for (const TestCase* tc : u) out.back().push_back(static_cast<std::size_t>(tc - cases.data()));
    }
    return out;
  };
  using U = std::vector<std::vector<std::size_t>>;
  EXPECT_EQ(ids(work_units(all, Dist::Load)), (U{{0}, {1, 4, 5}, {2}, {3}}));
  EXPECT_EQ(ids(work_units(all, Dist::LoadFile)), (U{{0, 2}, {1, 4, 5}, {3}}));
  EXPECT_TRUE(work_units({}, Dist::Load).empty());
}

}  // namespace
}  // namespace tovik::runner
