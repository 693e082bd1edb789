// Sweeps of file faults over a writer: each kind of fault at the first call of its kind,
// then the second, and so on until a run no longer reaches the fault, with a check of
// what the failed run left on disk.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/testing.h"

namespace brankel_test {

struct SweepFault {
  plat::testing::FileOp op;
  uint32_t error;
  const char* name;
};

// One fault of each kind the writers meet, with errors they do not wait out.
inline constexpr SweepFault kSweepFaults[] = {
    {plat::testing::FileOp::kWrite, plat::err::kDiskFull, "write, disk full"},
    {plat::testing::FileOp::kCreate, plat::err::kAccessDenied, "create, access denied"},
    {plat::testing::FileOp::kMove, plat::err::kPathNotFound, "move, path not found"},
    {plat::testing::FileOp::kRead, plat::err::kAccessDenied, "read, access denied"},
    {plat::testing::FileOp::kCopy, plat::err::kDiskFull, "copy, disk full"},
};

// Every file under `folder` (names relative to it, sub-folders included) with its bytes.
using FolderState = std::map<std::u16string, std::string>;
FolderState ReadFolderState(const std::u16string& folder);
// The names of the files that are missing, new or changed in `actual`, one a line (the
// bytes would flood a failure message); empty when the states are equal.
std::string FolderDifference(const FolderState& expected, const FolderState& actual);

// Runs `run` (true when the operation reported success) with `fault` armed at the n-th
// call of its kind, for n = 1, 2, ... up to `cap`. After a run that met the fault,
// `check(n, succeeded)` judges what it left. Stops at the first run that made fewer than
// n calls of the kind; returns how many runs met the fault, and fails the test if the
// cap came first.
uint32_t Sweep(const SweepFault& fault, uint32_t cap, const std::function<bool()>& run,
               const std::function<void(uint32_t n, bool succeeded)>& check);

}  // namespace brankel_test
