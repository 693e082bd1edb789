// What the stub and the player share for unattended runs: the environment variables that
// name their log and trace files, and appending to those files.
#pragma once

#include <optional>
#include <string>

namespace runtime {

// The value of the environment variable `name`, or nothing when it is not set.
std::optional<std::u16string> EnvironmentText(const wchar_t* name);
// Appends `text` (UTF-8) to the file at `path`, made when missing; false when it cannot.
bool AppendUtf8(const std::u16string& path, const std::string& text);

}  // namespace runtime
