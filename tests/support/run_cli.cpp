#include "support/run_cli.h"

#include <cstdio>

#include "cli/cli.h"

namespace brankel_test {
namespace {

std::string Slurp(std::FILE* stream) {
  std::string text;
  if (stream == nullptr) return text;
  std::rewind(stream);
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, stream)) > 0;) text.append(buffer, got);
  std::fclose(stream);
  return text;
}

}  // namespace

CliOutput RunCli(const std::vector<std::string>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  CliOutput result;
  result.code = cli::RunBrankel(args, out, err);
  result.out = Slurp(out);
  result.err = Slurp(err);
  return result;
}

}  // namespace brankel_test
