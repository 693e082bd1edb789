#include "packager/session.h"
