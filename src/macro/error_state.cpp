#include "macro/error_state.h"

namespace macro {
namespace {

// Fixed storage: the state must stay usable when memory is short, and a key is never
// longer than the literals the macro file code passes.
struct MacroFileErrorState {
  int32_t code = kNoError;
  char16_t key[kMaxMacroFileErrorKey + 1] = {};
};
MacroFileErrorState g_macro_file_error;

struct OwnError {
  int32_t code;
  const char16_t* key;
};
constexpr OwnError kOwnErrors[] = {
    {kErrAccessDenied, kKeyAccessDenied},     {kErrFileOpen, kKeyFileOpen},       {kErrFileFormat, kKeyFileFormat},
    {kErrNotEnoughMem, kKeyNotEnoughMem},     {kErrFileVersion, kKeyFileVersion}, {kErrBadFile, kKeyBadFile},
    {kErrAttachmentsBad, kKeyAttachmentsBad},
};

}  // namespace

const char16_t* OwnErrorKey(int32_t code) {
  for (const OwnError& own : kOwnErrors) {
    if (own.code == code) return own.key;
  }
  return nullptr;
}

void SetMacroFileError(int32_t code, const char16_t* key) {
  g_macro_file_error.code = code;
  size_t length = 0;
  if (key != nullptr) {
    while (length < kMaxMacroFileErrorKey && key[length] != 0) {
      g_macro_file_error.key[length] = key[length];
      ++length;
    }
  }
  g_macro_file_error.key[length] = 0;
}

const char16_t* GetMacroFileError(int32_t* code) {
  if (code != nullptr) *code = g_macro_file_error.code;
  return g_macro_file_error.key[0] == 0 ? nullptr : g_macro_file_error.key;
}

}  // namespace macro
