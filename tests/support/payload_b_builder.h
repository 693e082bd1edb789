// A payload B section made with the packager's own writers, as a build makes it, with the
// offsets of its records so that a test can damage one byte of it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "packager/payload.h"
#include "platform/platform.h"

namespace brankel_test {

struct PayloadFile {
  uint8_t kind = packager::kFileKindFile;
  std::u16string name;
  std::string bytes;
};

struct BuiltPayloadB {
  std::vector<uint8_t> section;
  std::vector<uint32_t> offsets;  // where each record's head starts
};

inline BuiltPayloadB BuildPayloadB(const std::vector<PayloadFile>& files, const std::string& language,
                                   uint8_t run_mode = 1) {
  std::vector<packager::PlannedRecord> records;
  for (const PayloadFile& file : files) records.push_back({file.kind, file.bytes.size(), file.name, 0});
  const packager::PayloadPlan plan = packager::PlanPayloadB(records, static_cast<uint32_t>(language.size()));
  EXPECT_EQ(plan.refusal, "");
  BuiltPayloadB built;
  built.section.assign(plan.total_size, 0);
  EXPECT_TRUE(packager::PutPayloadBHeader(built.section, plan, run_mode, false, u"Tool.exe", plat::ByteView(language)));
  for (size_t i = 0; i < files.size(); ++i) {
    const uint32_t at = plan.records[i].offset;
    const uint32_t span = *packager::FileRecordSpan(files[i].bytes.size());
    std::copy(files[i].bytes.begin(), files[i].bytes.end(), built.section.begin() + at + packager::kFileRecordHeadSize);
    const uint8_t* body = built.section.data() + at + packager::kFileRecordHeadSize;
    EXPECT_TRUE(packager::PutPayloadBRecordHead(built.section, plan.records[i],
                                                plat::Md5(body, span - packager::kFileRecordHeadSize)));
    built.offsets.push_back(at);
  }
  return built;
}

}  // namespace brankel_test
