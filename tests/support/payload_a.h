// Payload A sections for the player's tests, laid out by the packager's own writers as a
// build lays them out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "packager/payload.h"
#include "project/options.h"

namespace brankel_test {

struct PackedFile {
  uint8_t type;  // packager::kEntryMacroFile or kEntryLanguageFile
  std::u16string name;
  std::string bytes;
};

// The section, or an empty one when the writers refuse; `count` is the macro list's
// length written into the header.
inline std::vector<uint8_t> PayloadASection(const std::vector<PackedFile>& files, uint32_t count,
                                            std::u16string_view script_name,
                                            const project::MakeExeOptions& options = {}) {
  std::vector<packager::PlannedRecord> records;
  for (const PackedFile& file : files) records.push_back({file.type, file.bytes.size(), file.name});
  const packager::PayloadPlan plan = packager::PlanPayloadA(records);
  if (!plan.refusal.empty()) return {};
  std::vector<uint8_t> section(plan.total_size, 0);
  if (!packager::PutPayloadAHeader(section, options, count, script_name)) return {};
  for (size_t i = 0; i < files.size(); ++i) {
    if (!packager::PutPayloadARecordHead(section, plan.records[i])) return {};
    std::copy(files[i].bytes.begin(), files[i].bytes.end(),
              section.begin() + plan.records[i].offset + packager::kFileRecordHeadSize);
  }
  return section;
}

}  // namespace brankel_test
