#include "packager/exe_builder.h"
