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

// The English text the build's installation gives for `key`, formatted with `file`, with
// the line breaks a console gets: what a failure message should say.
std::string EnglishText(const char16_t* key, const std::string& file);

}  // namespace brankel_test
