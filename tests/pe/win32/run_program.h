// Starting a program the way a user's shell would and collecting what it prints, for the
// tests that check an edited executable still runs.
#pragma once

#include <string>

namespace brankel_test {

// Runs `exe` without arguments, its standard output and error read through one pipe into
// `output`. True when it started and ended within the time limit, with `exit_code` set;
// a program still running then is ended, and false is returned.
bool RunProgram(const std::u16string& exe, std::string* output, unsigned* exit_code);

}  // namespace brankel_test
