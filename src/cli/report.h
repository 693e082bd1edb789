// How the tool prints what it reports: one JSON object, or the same facts as indented text.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/shared_settings.h"

namespace cli {

// The user's playing preferences (passwords only as set or not).
nlohmann::ordered_json DescribeSettings(const app::SharedSettings& s);

// Prints a report: `json` as one JSON object, else as "key: value" lines, nested objects
// indented, and each element of an array on a line of its own.
void PrintReport(std::FILE* out, const nlohmann::ordered_json& report, bool json);

}  // namespace cli
