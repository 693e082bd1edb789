#include "runtime/unpack.h"

#include <gtest/gtest.h>
