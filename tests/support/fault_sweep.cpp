#include "support/fault_sweep.h"

#include <gtest/gtest.h>

#include "platform/file_io.h"
#include "platform/platform.h"
#include "support/scratch.h"

namespace brankel_test {
namespace {

void ReadInto(const std::u16string& folder, const std::u16string& prefix, FolderState* state) {
  plat::FindData data;
  plat::FindHandle find = plat::FindFirstFile(folder + u"\\*", &data);
  if (find == nullptr) return;
  do {
    if (data.name == u"." || data.name == u"..") continue;
    const std::u16string path = folder + u"\\" + data.name;
    if (data.attributes & plat::kAttrDirectory) {
      ReadInto(path, prefix + data.name + u"\\", state);
    } else {
      (*state)[prefix + data.name] = ReadBytes(path);
    }
  } while (plat::FindNextFile(find, &data));
  plat::FindClose(find);
}

}  // namespace

FolderState ReadFolderState(const std::u16string& folder) {
  FolderState state;
  ReadInto(folder, u"", &state);
  return state;
}

std::string FolderDifference(const FolderState& expected, const FolderState& actual) {
  std::string lines;
  for (const auto& [name, bytes] : expected) {
    const auto found = actual.find(name);
    if (found == actual.end()) {
      lines += "missing " + Narrow(name) + "\n";
    } else if (found->second != bytes) {
      lines += "changed " + Narrow(name) + "\n";
    }
  }
  for (const auto& entry : actual) {
    if (expected.count(entry.first) == 0) lines += "new " + Narrow(entry.first) + "\n";
  }
  return lines;
}

uint32_t Sweep(const SweepFault& fault, uint32_t cap, const std::function<bool()>& run,
               const std::function<void(uint32_t n, bool succeeded)>& check) {
  uint32_t met = 0;
  for (uint32_t n = 1; n <= cap; ++n) {
    SCOPED_TRACE(testing::Message() << fault.name << " at call " << n);
    bool succeeded = false;
    uint32_t calls = 0;
    {
      plat::testing::FaultScope scope;
      plat::testing::FailNth(fault.op, n, fault.error);
      succeeded = run();
      calls = plat::testing::CallsSinceArmed(fault.op);
    }
    if (calls < n) {
      EXPECT_TRUE(succeeded) << "a run without a fault failed";
      return met;
    }
    ++met;
    check(n, succeeded);
    if (testing::Test::HasFatalFailure()) return met;
  }
  ADD_FAILURE() << fault.name << ": still meeting the fault after " << cap << " runs";
  return met;
}

}  // namespace brankel_test
