#include "runtime/unpack.h"
