#include "runner/worker_protocol.hpp"

#include <cerrno>
#include <charconv>

#include <unistd.h>

#include "runner/plugin.hpp"
#include "support/base/errors.hpp"
#include "support/base/wire.hpp"

namespace tovik::runner {

bool write_frame(int fd, std::string_view kind, std::string_view payload) {
  std::string bytes;
  bytes.reserve(kind.size() + 24 + payload.size());
  bytes.append(kind).append(" ").append(std::to_string(payload.size())).append("\n").append(payload);
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool FrameReader::fill(int fd) {
  char chunk[65536];
  const ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;
  buffer_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::optional<Frame> FrameReader::next() {
  const std::string_view view = std::string_view(buffer_).substr(start_);
  const std::size_t eol = view.find('\n');
  if (eol == std::string_view::npos) {
    if (view.size() > 256) throw ValueError("执行进程的消息头已损坏");
    return std::nullopt;
  }
  const std::string_view head = view.substr(0, eol);
  const std::size_t blank = head.find(' ');
  std::size_t length = 0;
  const char* end = head.data() + head.size();
  const auto parsed = blank == std::string_view::npos ? std::from_chars_result{nullptr, std::errc::invalid_argument}
                                                      : std::from_chars(head.data() + blank + 1, end, length);
  if (parsed.ec != std::errc() || parsed.ptr != end)
    throw ValueError("执行进程的消息头已损坏: " + std::string(head.substr(0, 64)));
  if (view.size() - eol - 1 < length) return std::nullopt;
  Frame f{std::string(head.substr(0, blank)), std::string(view.substr(eol + 1, length))};
  start_ += eol + 1 + length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return f;
}

namespace {

// Where a report's step is in its case: which list and the place in it.
enum Part : std::int64_t { kNoStep = 0, kSetup = 1, kSteps = 2, kTeardown = 3 };

const std::vector<CaseStep>& part_of(const TestCase& tc, std::int64_t part) {
  switch (part) {
    case kSetup: return tc.setup;
    case kTeardown: return tc.teardown;
    default: return tc.steps;
  }
}

void put_steps(WireOut& w, const std::vector<CaseStep>& steps) {
  w.number(static_cast<std::int64_t>(steps.size()));
  for (const auto& s : steps) {
    w.text(s.file).text(s.sheet).number(s.row).text(s.number).text(s.description).text(s.keyword);
    w.value(Value(s.args)).value(Value(s.request));
  }
}

std::vector<CaseStep> get_steps(WireIn& in) {
  std::vector<CaseStep> steps(in.count());
  for (auto& s : steps) {
    s.file = in.text();
    s.sheet = in.text();
    s.row = static_cast<int>(in.number());
    s.number = in.text();
    s.description = in.text();
    s.keyword = in.text();
    s.args = in.value().as_list();
    s.request = in.value().as_dict();
  }
  return steps;
}

void put_words(WireOut& w, const std::vector<std::string>& words) {
  w.number(static_cast<std::int64_t>(words.size()));
  for (const auto& word : words) w.text(word);
}

std::vector<std::string> get_words(WireIn& in) {
  std::vector<std::string> words(in.count());
  for (auto& word : words) word = in.text();
  return words;
}

}  // namespace

std::string encode_case(const TestCase& tc) {
  WireOut w;
  w.text(tc.nodeid).text(tc.file).text(tc.name).text(tc.owner ? tc.owner->name() : std::string());
  const CaseMarks& m = tc.marks;
  w.flag(m.skip.has_value()).text(m.skip.value_or(""));
  put_words(w, m.fixtures);
  put_words(w, m.tags);
  w.text(m.kw_type).text(m.kw_type_at);
  w.flag(m.timeout.has_value()).value(Value(m.timeout.value_or(0)));
  w.flag(m.reruns.has_value()).number(m.reruns.value_or(0));
  w.text(m.group);
  put_steps(w, tc.steps);
  put_steps(w, tc.setup);
  put_steps(w, tc.teardown);
  w.value(Value(tc.variables));
  w.flag(tc.broken.has_value()).text(tc.broken.value_or(""));
  return w.take();
}

TestCase decode_case(std::string_view record, const std::vector<Plugin*>& plugins) {
  WireIn in(record);
  TestCase tc;
  tc.nodeid = in.text();
  tc.file = in.text();
  tc.name = in.text();
  const std::string owner = in.text();
  for (Plugin* p : plugins)
    if (p->name() == owner) tc.owner = p;
  if (!tc.owner) throw ValueError("执行进程中没有收集用例 " + tc.nodeid + " 的插件 " + owner);
  CaseMarks& m = tc.marks;
  if (in.flag()) m.skip = in.text();
  else in.text();
  m.fixtures = get_words(in);
  m.tags = get_words(in);
  m.kw_type = in.text();
  m.kw_type_at = in.text();
  if (in.flag()) m.timeout = in.value().as_float();
  else in.value();
  if (in.flag()) m.reruns = static_cast<int>(in.number());
  else in.number();
  m.group = in.text();
  tc.steps = get_steps(in);
  tc.setup = get_steps(in);
  tc.teardown = get_steps(in);
  tc.variables = in.value().as_dict();
  if (in.flag()) tc.broken = in.text();
  else in.text();
  if (!in.at_end()) throw ValueError("数据已损坏：用例之后还有多余的数据");
  return tc;
}

std::string encode_report(const CaseReport& r, const Dict& saved, std::string_view log_lines) {
  WireOut w;
  w.text(r.test->nodeid);
  w.number(static_cast<std::int64_t>(r.outcome)).text(r.error_kind).text(r.message).text(r.when);
  std::int64_t part = kNoStep, index = 0;
  for (const std::int64_t p : {kSetup, kSteps, kTeardown}) {
    const auto& list = part_of(*r.test, p);
    for (std::size_t i = 0; i < list.size(); ++i)
      if (&list[i] == r.step) {
        part = p;
        index = static_cast<std::int64_t>(i);
      }
  }
  w.number(part).number(index);
  w.text(r.log).text(r.browser).flag(r.rerun).flag(r.flaky).number(r.start_ms).number(r.stop_ms);
  w.number(static_cast<std::int64_t>(r.carried.size()));
  for (const auto& [name, bytes] : r.carried) w.text(name).text(bytes);
  w.value(Value(saved)).text(log_lines);
  return w.take();
}

CaseReport decode_report(std::string_view record, const TestCase& tc, Dict& saved, std::string& log_lines) {
  WireIn in(record);
  CaseReport r;
  r.test = &tc;
  if (in.text() != tc.nodeid) throw ValueError("执行进程报告的用例与所派的不同");
  const std::int64_t outcome = in.number();
  if (outcome < 0 || outcome > static_cast<std::int64_t>(Outcome::Skipped)) throw ValueError("执行进程报告了未知的结果");
  r.outcome = static_cast<Outcome>(outcome);
  r.error_kind = in.text();
  r.message = in.text();
  r.when = in.text();
  const std::int64_t part = in.number(), index = in.number();
  if (part != kNoStep) {
    const auto& list = part_of(tc, part);
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) throw ValueError("执行进程报告的步骤不在用例中");
    r.step = &list[static_cast<std::size_t>(index)];
  }
  r.log = in.text();
  r.browser = in.text();
  r.rerun = in.flag();
  r.flaky = in.flag();
  r.start_ms = in.number();
  r.stop_ms = in.number();
  for (std::size_t n = in.count(); n > 0; --n) {
    std::string name = in.text();
    r.carried[name] = in.text();
  }
  saved = in.value().as_dict();
  log_lines = in.text();
  if (!in.at_end()) throw ValueError("数据已损坏：报告之后还有多余的数据");
  return r;
}

}  // namespace tovik::runner
