// The run loop: collect, select, run every chosen case between its fixtures, and tell the
// plug-ins each event in order. It knows no output format: reporters are plug-ins listening to
// these events.
#pragma once

#include "runner/config.hpp"

namespace tovik::runner {

// Runs the session that config describes and returns its exit status. UsageError for bad
// paths, selection expressions or log options; Ctrl-C ends it with kInterrupted after the
// current keyword, fixtures torn down and finished cases reported.
int run_session(Config& config);

}  // namespace tovik::runner
