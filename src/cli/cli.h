// The `brankel` command-line front end, callable in-process so tests can drive it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// Where a command writes: its report and its failures.
struct Streams {
  std::FILE* out;
  std::FILE* err;
};

// Runs one command (arguments without the program name); returns the exit code.
int RunBrankel(const std::vector<std::string>& args, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace cli
