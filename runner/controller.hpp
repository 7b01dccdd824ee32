// A parallel run (-n N): the controller hands the chosen cases to N worker processes (the same
// program, started with --tovik-worker, over pipes) and reports what they send back, each case
// once, as a serial run reports it. Workers read the variable file at start; the values cases
// save come back with their reports and the controller writes the file once at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runner/config.hpp"
#include "runner/report.hpp"

namespace tovik::runner {

class LogSetup;
class VariableStore;

enum class Dist {
  Load,      // the next case (or @group) to the next idle worker
  LoadFile,  // a file's cases on one worker, in file order
};

// Workers from -n: "auto" is the number of CPUs, 0 or none a serial run. UsageError for
// anything else than a whole number from 0 to 512 or "auto".
int worker_count(const Config& config);
// From --dist; UsageError for an unknown mode.
Dist dist_mode(const Config& config);

// The cases in the pieces one worker runs in order: a @group's cases together (at the place of
// its first case), with loadfile each file's other cases together; the rest one by one.
std::vector<std::vector<const TestCase*>> work_units(const std::vector<const TestCase*>& cases, Dist dist);

struct ParallelRun {
  Config& config;
  LogSetup& logs;
  const VariableStore& variables;
  int workers = 1;
  // A finished attempt, pointing into the chosen cases: counts and tells the listeners.
  std::function<void(CaseReport&)> report;
  // Asked after each final report: true stops giving out cases (-x, --maxfail).
  std::function<bool()> enough;
};

// Runs the cases and returns whether the run was interrupted (Ctrl-C: every worker stops after
// its current keyword, the finished cases are reported, no worker is left). A worker that dies
// fails its current case (WorkerExited) and is replaced. The saved variables are written at the
// end, also after an interruption. OSError when workers cannot be started at all.
bool run_parallel(ParallelRun& run, const std::vector<const TestCase*>& chosen);

}  // namespace tovik::runner
