// For the tests that need real MD5 digests. A posix build without libmd (the 32-bit Linux
// build) has none: there plat::Md5 fails with ERROR_NOT_SUPPORTED and these tests skip.
#pragma once

#include <gtest/gtest.h>

#include "platform/platform.h"

#define BRANKEL_MD5_SKIP_REASON "no MD5 digest in this build (posix platform built without libmd)"

#define BRANKEL_SKIP_WITHOUT_MD5()                               \
  do {                                                           \
    if (!plat::kHasMd5) GTEST_SKIP() << BRANKEL_MD5_SKIP_REASON; \
  } while (0)
