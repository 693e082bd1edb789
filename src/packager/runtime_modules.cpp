#include "packager/runtime_modules.h"
