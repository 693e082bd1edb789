#include "packager/reference_rewrite.h"
