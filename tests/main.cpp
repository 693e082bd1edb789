#include <gtest/gtest.h>

#include <cstdio>

#include "platform/testing.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The posix stand-in gets a prefix of its own so tests never touch the user's; Windows
  // keeps the real system and each test works in a scratch folder of its own.
  if (plat::testing::UseScratchRoot()) {
    std::printf("platform: posix stand-in, root %s\n", plat::testing::ScratchRootHostPath().c_str());
  } else {
    std::printf("platform: win32\n");
  }
  // Tests that hold a file open wait for it a moment only; the tests of the wait itself
  // set their own limit and put this one back.
  plat::testing::SetFileRetryLimit(150);
  return RUN_ALL_TESTS();
}
