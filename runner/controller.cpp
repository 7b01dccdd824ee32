#include "runner/controller.hpp"

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runner/case_clock.hpp"
#include "runner/interrupt.hpp"
#include "runner/log_setup.hpp"
#include "runner/variable_store.hpp"
#include "runner/worker.hpp"
#include "runner/worker_protocol.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "yamlcase/exchange.hpp"

namespace tovik::runner {

namespace {

constexpr int kMaxWorkers = 512;
// Cases a worker holds at once: the one it runs and the next.
constexpr std::size_t kAhead = 2;
// Workers that die before they are ready, in a row, before the run gives up on starting them.
constexpr int kFailedStarts = 3;
// How long workers get to stop after Ctrl-C before they are killed.
constexpr std::chrono::seconds kStopGrace{30};
// A case past its time limit stops at its next step; a worker still in it this much later hangs
// where no signal reaches it (a blocking call of a library) and is ended.
constexpr std::chrono::seconds kHangGrace{15};

using Clock = std::chrono::steady_clock;

struct Worker {
  int number = 0;  // shown as gwN
  pid_t pid = -1;
  int in = -1;   // our end of its input
  int out = -1;  // our end of its reports
  FrameReader reader;
  bool ready = false;
  std::deque<const TestCase*> unit;  // what is left of the piece it runs
  // Cases sent and not finished, the one running first. A worker has the next case at hand when
  // it finishes one, so it never waits for the controller.
  std::deque<const TestCase*> sent;
  Clock::time_point since{};  // when the attempt of sent.front() began
  bool overdue = false;       // ended by the controller for hanging past the case's limit

  void close_input() {
    if (in >= 0) ::close(in);
    in = -1;
  }
};

std::string exit_text(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const char* abbrev = ::sigabbrev_np(sig);
    return "因信号 " + std::to_string(sig) + (abbrev ? std::string("（SIG") + abbrev + "）" : std::string()) + "退出";
  }
  return "退出，退出状态 " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : status);
}

// The workers of one run; whatever ends the run, none is left behind.
class Pool {
 public:
  Pool(const Config& config, int size) : workers_(static_cast<std::size_t>(size)) {
    std::error_code ec;
    program_ = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (program_.empty()) throw OSError("找不到正在运行的程序，无法启动执行进程");
    args_ = config.given;
    for (int i = 0; i < size; ++i) workers_[static_cast<std::size_t>(i)].number = i + 1;
  }
  ~Pool() {
    for (auto& w : workers_)
      if (w.pid > 0) {
        ::kill(w.pid, SIGKILL);
        ::waitpid(w.pid, nullptr, 0);
      }
    for (auto& w : workers_) release(w);
  }
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  std::vector<Worker>& workers() { return workers_; }

  void start(Worker& w) {
    int to_worker[2], from_worker[2];
    if (::pipe2(to_worker, O_CLOEXEC) != 0) throw OSError(std::string("无法创建管道: ") + std::strerror(errno));
    if (::pipe2(from_worker, O_CLOEXEC) != 0) {
      ::close(to_worker[0]);
      ::close(to_worker[1]);
      throw OSError(std::string("无法创建管道: ") + std::strerror(errno));
    }
    // everything the child needs is made before fork: after it, only system calls
    std::vector<std::string> words{program_, "run", "--tovik-worker", std::to_string(w.number)};
    words.insert(words.end(), args_.begin(), args_.end());
    std::vector<char*> argv;
    for (auto& s : words) argv.push_back(s.data());
    argv.push_back(nullptr);
    const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
      // its own process group: a Ctrl-C at the terminal reaches the controller, which stops the
      // workers once; and when the controller dies, so do they
      ::setpgid(0, 0);
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      const int in = ::fcntl(to_worker[0], F_DUPFD, 10);
      const int out = ::fcntl(from_worker[1], F_DUPFD, 10);
      if (null_fd >= 0) ::dup2(null_fd, 0);
      ::dup2(2, 1);  // nothing of a worker mixes into the controller's report on standard output
      ::dup2(in, kWorkerInFd);
      ::dup2(out, kWorkerOutFd);
      ::syscall(SYS_close_range, 5U, ~0U, 0U);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    const int fork_error = errno;
    if (null_fd >= 0) ::close(null_fd);
    ::close(to_worker[0]);
    ::close(from_worker[1]);
    if (pid < 0) {
      ::close(to_worker[1]);
      ::close(from_worker[0]);
      throw OSError(std::string("无法启动执行进程: ") + std::strerror(fork_error));
    }
    w.pid = pid;
    w.overdue = false;
    w.in = to_worker[1];
    w.out = from_worker[0];
    ::fcntl(w.out, F_SETFL, ::fcntl(w.out, F_GETFL) | O_NONBLOCK);
    w.reader = FrameReader();
    w.ready = false;
    w.sent.clear();
  }

  // After its reports ended: waits for it and returns how it ended.
  static int reap(Worker& w) {
    int status = 0;
    while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
    w.pid = -1;
    release(w);
    return status;
  }

 private:
  static void release(Worker& w) {
    w.close_input();
    if (w.out >= 0) ::close(w.out);
    w.out = -1;
  }

  std::string program_;
  std::vector<std::string> args_;
  std::vector<Worker> workers_;
};

// The values the finished cases saved, in the order they finished, for the one write at the end.
// Cases on different workers run in no set order, so a name saved with different values has no
// one right final value: the run says so, once per name, naming the cases.
class SavedValues {
 public:
  void add(const Dict& saved, const TestCase& by) {
    for (const auto& [name, value] : saved) {
      auto& history = by_[name];
      if (history.empty() || !(history.back().second == value) || history.back().first != by.nodeid)
        history.emplace_back(by.nodeid, value);
      merged_.set(name, value);
    }
  }

  void write(const VariableStore& variables) const {
    for (const auto& [name, history] : by_) {
      bool differ = false;
      for (const auto& entry : history) differ = differ || !(entry.second == history.front().second);
      if (!differ) continue;
      std::string cases;
      for (const auto& [who, value] : history) cases += (cases.empty() ? "" : "、") + who + "（" + repr(value) + "）";
      const std::string text =
          "变量 " + name + " 被多个用例保存为不同的值：" + cases + "；变量文件中保留最后完成的 " + history.back().first + " 的值";
      log::pytest()->warn("{}", text);
      std::cerr << "WARNING  " << text << "\n";
    }
    if (merged_.empty()) return;
    Exchange* store = variables.find();
    if (!store) return;
    try {
      store->file.update(merged_);
      store->file.save();
    } catch (const std::exception& e) {
      log::pytest()->error("变量文件没有写入: {}", describe_error(e));
      std::cerr << "ERROR: 变量文件没有写入: " << describe_error(e) << "\n";
    }
  }

 private:
  Dict merged_;
  std::map<std::string, std::vector<std::pair<std::string, Value>>> by_;  // who saved what, in order
};

}  // namespace

int worker_count(const Config& config) {
  const std::string text = config.text_option("numprocesses");
  if (text.empty()) return 0;
  if (text == "auto") return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  int n = -1;
  const char* end = text.data() + text.size();
  const auto parsed = std::from_chars(text.data(), end, n);
  if (parsed.ec != std::errc() || parsed.ptr != end || n < 0 || n > kMaxWorkers)
    throw UsageError("-n 应为 0 到 " + std::to_string(kMaxWorkers) + " 的整数或 auto，实际为 " + repr_text(text));
  return n;
}

Dist dist_mode(const Config& config) {
  const std::string text = config.text_option("dist");
  if (text.empty() || text == "load") return Dist::Load;
  if (text == "loadfile") return Dist::LoadFile;
  throw UsageError("--dist 应为 load 或 loadfile，实际为 " + repr_text(text));
}

std::vector<std::vector<const TestCase*>> work_units(const std::vector<const TestCase*>& cases, Dist dist) {
  std::vector<std::vector<const TestCase*>> units;
  std::map<std::string, std::size_t> group_at, file_at;
  for (const TestCase* tc : cases) {
    std::map<std::string, std::size_t>* places = nullptr;
    std::string key;
    if (!tc->marks.group.empty()) {
      places = &group_at;
      key = tc->marks.group;
    } else if (dist == Dist::LoadFile) {
      places = &file_at;
      key = tc->file;
    }
    if (!places) {
      units.push_back({tc});
      continue;
    }
    const auto [it, fresh] = places->emplace(key, units.size());
    if (fresh) units.emplace_back();
    units[it->second].push_back(tc);
  }
  return units;
}

bool run_parallel(ParallelRun& run, const std::vector<const TestCase*>& chosen) {
  std::signal(SIGPIPE, SIG_IGN);  // a worker gone while we write to it shows at its reports' end
  std::deque<std::vector<const TestCase*>> pending;
  for (auto& unit : work_units(chosen, dist_mode(run.config))) pending.push_back(std::move(unit));
  if (pending.empty()) return false;
  Pool pool(run.config, std::min(run.workers, static_cast<int>(pending.size())));
  for (auto& w : pool.workers()) pool.start(w);

  const double case_timeout = parse_seconds(run.config.text_option("case_timeout")).value_or(0);
  const auto limit_of = [&](const TestCase& tc) { return tc.marks.timeout.value_or(case_timeout); };
  SavedValues saved;
  bool stopping = false, interrupted_seen = false;
  Clock::time_point kill_at{};
  int failed_starts = 0;

  // the next case for w: the rest of its piece first, else the next piece
  const auto next_case = [&](Worker& w) -> const TestCase* {
    if (w.unit.empty() && !pending.empty()) {
      w.unit.assign(pending.front().begin(), pending.front().end());
      pending.pop_front();
    }
    if (w.unit.empty()) return nullptr;
    const TestCase* tc = w.unit.front();
    w.unit.pop_front();
    return tc;
  };
  const auto give_work = [&](Worker& w) {
    while (!stopping && w.in >= 0 && w.sent.size() < kAhead) {
      const TestCase* tc = next_case(w);
      if (!tc) {
        w.close_input();  // it finishes what it holds and exits
        return;
      }
      if (w.sent.empty()) w.since = Clock::now();
      w.sent.push_back(tc);
      write_frame(w.in, "run", encode_case(*tc));  // a worker gone shows at its reports' end
    }
  };
  // -x, --maxfail, Ctrl-C: what workers hold beyond their current case is not run
  const auto stop_all = [&] {
    stopping = true;
    for (auto& w : pool.workers())
      if (w.in >= 0) {
        write_frame(w.in, "stop", "");
        w.close_input();
      }
  };

  const auto on_frame = [&](Worker& w, const Frame& f) {
    if (f.kind == "ready") {
      w.ready = true;
      failed_starts = 0;
    } else if (f.kind == "report") {
      if (w.sent.empty()) throw ValueError("执行进程报告了没有派给它的用例");
      const TestCase& tc = *w.sent.front();
      Dict values;
      std::string log_lines;
      CaseReport report = decode_report(f.payload, tc, values, log_lines);
      run.logs.replay(log_lines);
      saved.add(values, tc);
      run.report(report);
      w.since = Clock::now();
      if (!report.rerun) {
        w.sent.pop_front();
        if (!stopping && run.enough && run.enough()) stop_all();
      }
    } else {
      throw ValueError("执行进程发来未知的消息 " + f.kind);
    }
  };

  const auto on_exit = [&](Worker& w) {
    const int status = Pool::reap(w);
    const bool clean = WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == kInterrupted);
    // a worker told to stop leaves what it held; a case stopped by Ctrl-C is not reported, as in
    // a serial run
    if (!w.sent.empty() && !(clean && stopping)) {
      const TestCase* tc = w.sent.front();
      w.sent.pop_front();
      CaseReport report;
      report.test = tc;
      report.outcome = Outcome::Failed;
      report.when = "call";
      report.error_kind = w.overdue ? "CaseTimeout" : "WorkerExited";
      report.message = w.overdue ? "用例运行超过 " + format_float(limit_of(*tc)) + " 秒，执行进程 gw" +
                                       std::to_string(w.number) + " 没有停下，已被结束"
                                 : "执行进程 gw" + std::to_string(w.number) + " 在运行此用例时" + exit_text(status);
      report.start_ms = report.stop_ms = now_ms();
      run.report(report);
      if (!stopping && run.enough && run.enough()) stop_all();
    } else if (!w.ready && !clean) {
      ++failed_starts;
    }
    // what it held and the rest of its group go on elsewhere, in order
    w.unit.insert(w.unit.begin(), w.sent.begin(), w.sent.end());
    w.sent.clear();
    if (!w.unit.empty()) {
      if (!stopping) pending.emplace_front(w.unit.begin(), w.unit.end());
      w.unit.clear();
    }
    if (!clean && !stopping && !pending.empty()) {
      if (failed_starts >= kFailedStarts)
        throw OSError("执行进程无法启动（连续 " + std::to_string(kFailedStarts) + " 次），最后一次" + exit_text(status));
      pool.start(w);
    }
  };

  for (;;) {
    if (interrupted() && !interrupted_seen) {
      interrupted_seen = true;
      kill_at = Clock::now() + kStopGrace;
      stop_all();
      for (auto& w : pool.workers())
        if (w.pid > 0) ::kill(w.pid, SIGINT);
    }
    for (auto& w : pool.workers()) {
      const double limit = w.sent.empty() ? 0 : limit_of(*w.sent.front());
      if (w.pid > 0 && limit > 0 && !w.overdue &&
          Clock::now() - w.since > std::chrono::duration<double>(limit) + kHangGrace) {
        w.overdue = true;
        ::kill(w.pid, SIGKILL);
      }
    }
    if (interrupted_seen && Clock::now() > kill_at)
      for (auto& w : pool.workers())
        if (w.pid > 0) ::kill(w.pid, SIGKILL);

    std::vector<pollfd> fds;
    std::vector<Worker*> polled;
    for (auto& w : pool.workers()) {
      if (w.pid <= 0) continue;
      if (w.ready) give_work(w);
      fds.push_back({w.out, POLLIN, 0});
      polled.push_back(&w);
    }
    if (fds.empty()) break;
    if (::poll(fds.data(), fds.size(), 100) < 0 && errno != EINTR) throw OSError(std::string("poll: ") + std::strerror(errno));
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Worker& w = *polled[i];
      // a report cut by the worker's death is not taken: its case is reported as the death
      const bool open = w.reader.fill(w.out);
      try {
        while (auto f = w.reader.next()) on_frame(w, *f);
      } catch (const ValueError& e) {
        log::pytest()->error("执行进程 gw{} 的消息无法读取，已结束它: {}", w.number, e.what());
        ::kill(w.pid, SIGKILL);
      }
      if (!open) on_exit(w);
    }
  }
  saved.write(run.variables);
  return interrupted_seen;
}

}  // namespace tovik::runner
