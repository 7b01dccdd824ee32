#include "runner/interrupt.hpp"

#include <atomic>
#include <csignal>
#include <ctime>

namespace tovik::runner {

namespace {

std::atomic<bool> g_stop{false};

extern "C" void on_signal(int sig) {
  if (g_stop.load()) {
    // second request: give up at once, as users expect from a second Ctrl-C
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  g_stop.store(true);
}

}  // namespace

bool interrupted() { return g_stop.load(); }
void request_interrupt() { g_stop.store(true); }
void pause(double seconds) {
  if (seconds <= 0) return;
  timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
  nanosleep(&ts, nullptr);
}

void check_interrupt() {
  if (g_stop.load()) throw Interrupted();
}

struct InterruptGuard::Saved {
  struct sigaction sigint, sigterm;
};

InterruptGuard::InterruptGuard() : saved_(new Saved) {
  g_stop.store(false);
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocking wait returns early and sees the request
  sigaction(SIGINT, &sa, &saved_->sigint);
  sigaction(SIGTERM, &sa, &saved_->sigterm);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &saved_->sigint, nullptr);
  sigaction(SIGTERM, &saved_->sigterm, nullptr);
  delete saved_;
}

}  // namespace tovik::runner
