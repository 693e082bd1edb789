// Scratch roots for tests: each run gets a prefix of its own, removed when the run ends.
#include <ftw.h>
#include <stdlib.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/posix/host.h"
#include "platform/testing.h"

namespace plat::testing {
namespace {

std::string scratch_root;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

void RemoveScratchRoot() {
  if (!scratch_root.empty()) nftw(scratch_root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

bool UseScratchRoot() {
  std::string pattern = "/tmp/brankel-root-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return false;
  const bool first = scratch_root.empty();
  RemoveScratchRoot();
  scratch_root = pattern;
  if (first) std::atexit(RemoveScratchRoot);
  posix::SetRoot(scratch_root);
  return true;
}

std::string ScratchRootHostPath() { return scratch_root; }

bool UnderWine() { return false; }

}  // namespace plat::testing
