#include "runtime/dry_run.h"

#include <gtest/gtest.h>
