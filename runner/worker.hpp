// A worker process of a parallel run (-n): started by the controller as "tovik run --tovik-worker
// N <the run's arguments>", it reads the cases to run (the controller collected them) from
// descriptor 3 and reports on descriptor 4 (runner/worker_protocol.hpp). It owns its keyword objects, drivers, HTTP clients, fixtures
// (session fixtures are per worker) and captured log; it writes no report, log file or variable
// file of its own: those are the controller's.
#pragma once

#include "runner/config.hpp"

namespace tovik::runner {

inline constexpr int kWorkerInFd = 3;
inline constexpr int kWorkerOutFd = 4;

// Serves cases until its input ends (0) or a stop was requested (kInterrupted): after Ctrl-C the
// case running stops after its current keyword and is not reported.
int run_worker(Config& config);

}  // namespace tovik::runner
