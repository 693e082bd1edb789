// The player's walk over the packed macros, apart from its window: what it reads from
// payload A, which calls and references it resolves, and the trace it writes.
#pragma once

namespace runtime {}  // namespace runtime
