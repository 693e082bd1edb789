#include "packager/payload.h"
