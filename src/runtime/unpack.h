// The stub's decisions, apart from the window and the process it starts: which payload it
// trusts, which target names it writes, and where.
#pragma once

namespace runtime {}  // namespace runtime
