#include "runner/case_clock.hpp"

#include <cmath>
#include <csignal>
#include <ctime>

#include <sys/syscall.h>
#include <unistd.h>

#include "runner/plugin.hpp"
#include "support/base/printable.hpp"

namespace tovik::runner {

namespace {

// Only there so the signal interrupts a sleep; the clock itself tells that the time is up.
extern "C" void on_case_alarm(int) {}

}  // namespace

std::optional<double> parse_seconds(const std::string& text, bool zero_too) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v) || v < 0 || (v == 0 && !zero_too)) return std::nullopt;
  // strtod also reads hexadecimal and "inf"; a number of seconds is written in decimals
  if (text.find_first_not_of("0123456789.eE+-") != std::string::npos) return std::nullopt;
  return v;
}

CaseClock::CaseClock(double seconds)
    : seconds_(seconds),
      deadline_(std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds))) {
  if (seconds <= 0) return;
  struct sigaction sa {};
  sa.sa_handler = on_case_alarm;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a sleep returns early
  sigaction(SIGALRM, &sa, nullptr);
  // to this thread, the one running the case: another (the report writers) would sleep through it
  struct sigevent ev {};
  ev.sigev_notify = SIGEV_THREAD_ID;
  ev.sigev_signo = SIGALRM;
  ev._sigev_un._tid = static_cast<pid_t>(::syscall(SYS_gettid));
  // without the signal a sleep runs to its end; the limit still holds after it
  if (timer_create(CLOCK_MONOTONIC, &ev, &timer_) != 0) return;
  armed_ = true;
  struct itimerspec when {};
  when.it_value.tv_sec = static_cast<time_t>(seconds);
  when.it_value.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
  if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
  timer_settime(timer_, 0, &when, nullptr);
}

CaseClock::~CaseClock() {
  if (armed_) timer_delete(timer_);
}

bool CaseClock::expired() const { return seconds_ > 0 && std::chrono::steady_clock::now() >= deadline_; }

CaseTimeout CaseClock::error(const std::string& keyword) const {
  std::string message = "用例运行超过 " + format_float(seconds_) + " 秒，已停止";
  if (!keyword.empty()) message += "（当时在执行关键字 " + keyword + "）";
  return CaseTimeout(message);
}

void check_case_clock(const CaseContext& ctx) {
  if (ctx.clock && ctx.clock->expired())
    throw ctx.clock->error(ctx.current_step ? ctx.current_step->keyword : std::string());
}

}  // namespace tovik::runner
