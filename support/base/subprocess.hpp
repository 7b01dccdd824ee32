// Running another program and waiting for it, without a shell: arguments reach it as they are,
// so blanks and shell characters in paths are harmless.
#pragma once

#include <string>
#include <vector>

namespace tovik {

// Starts argv[0] (looked up on PATH unless it holds a '/') with the caller's standard streams
// and environment, and waits for it. Returns its exit status; 128 + N when signal N ended it;
// 127 when the program cannot be started (missing, not executable). While it runs, Ctrl-C and
// SIGTERM reach the program (same terminal, same process group) and this process ignores them,
// so a server it runs can be ended by the user and the caller goes on.
int run_and_wait(const std::vector<std::string>& argv);

// The executable regular file PATH resolves a program name to, or empty. A name holding '/' is
// returned as it is when it names one.
std::string find_program(const std::string& name);

}  // namespace tovik
