#include "analysis/make_exe_builder.h"

#include <string>

#include "platform/unicode.h"

namespace analysis {
namespace {

std::u16string_view FieldText(const char16_t* field) {
  return std::u16string_view(field, std::char_traits<char16_t>::length(field));
}

}  // namespace

CMakeExe_Builder::CMakeExe_Builder(const app::CVLWinApp* texts)
    : lists_(texts, project::kMacroCapacity + project::kBuildMacroRoom,
             project::kExtraCapacity + project::kBuildExtraRoom) {}

void CMakeExe_Builder::SetScriptPath(std::u16string_view script_path, std::u16string_view script_folder) {
  plat::SetFixedText(script_path_, kBuilderPathChars, script_path);
  plat::SetFixedText(script_folder_, kBuilderPathChars, script_folder);
}

std::u16string_view CMakeExe_Builder::ScriptPath() const { return FieldText(script_path_); }
std::u16string_view CMakeExe_Builder::ScriptFolder() const { return FieldText(script_folder_); }
std::u16string_view CMakeExe_Builder::Message() const { return FieldText(message_); }

void CMakeExe_Builder::SetMessage(const char16_t* key, std::u16string_view argument) {
  // The lists already own the formatting of these messages (language text, system text,
  // the cut to the buffer); the builder's copy only outlives the lists' next message.
  lists_.SetListMessage(key, argument);
  plat::SetFixedText(message_, kBuilderMessageChars, lists_.Message());
}

void CMakeExe_Builder::SetBuilderText(std::u16string_view text) {
  plat::SetFixedText(message_, kBuilderMessageChars, text);
}

}  // namespace analysis
