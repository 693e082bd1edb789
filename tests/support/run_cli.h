// Runs the `brankel` front end in-process and captures what it prints.
#pragma once

#include <string>
#include <vector>

namespace brankel_test {

struct CliOutput {
  int code = 0;
  std::string out;
  std::string err;
};

CliOutput RunCli(const std::vector<std::string>& args);

}  // namespace brankel_test
