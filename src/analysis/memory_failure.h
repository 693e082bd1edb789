// Running out of memory inside the macro file layer, which reports it instead of throwing:
// for the collection and the discovery that is no absent or damaged file but a failure of
// the whole operation, ended at its boundary with the memory message.
#pragma once

#include <cstdint>
#include <new>

#include "macro/error_state.h"
#include "platform/platform.h"

namespace analysis {

// Throws std::bad_alloc when the macro layer's error state or the last error says that
// memory ran out. Callers clear the last error before the call they judge.
inline void ThrowIfOutOfMemory() {
  int32_t code = macro::kNoError;
  macro::GetMacroFileError(&code);
  if (code == macro::kErrNotEnoughMem || plat::GetLastError() == plat::err::kNotEnoughMemory) throw std::bad_alloc();
}

}  // namespace analysis
