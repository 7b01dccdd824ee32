// Ctrl-C during a run: the first SIGINT (or SIGTERM) asks the run to stop after the current
// keyword; a second one ends the process at once.
#pragma once

#include "support/base/errors.hpp"

namespace tovik::runner {

// Thrown between keywords once a stop was requested; the runner turns it into exit status 2.
class Interrupted : public Error {
 public:
  Interrupted() : Error("KeyboardInterrupt") {}
  const char* kind() const noexcept override { return "KeyboardInterrupt"; }
};

bool interrupted();
void request_interrupt();
// Throws Interrupted when a stop was requested.
void check_interrupt();
// Sleeps between attempts (retries, reruns); a stop request (Ctrl-C) or a case's time-out signal
// cuts the wait short.
void pause(double seconds);

// Installs the handlers for the life of the object and restores the previous ones after.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct Saved;
  Saved* saved_;
};

}  // namespace tovik::runner
