#include "runtime/dry_run.h"
