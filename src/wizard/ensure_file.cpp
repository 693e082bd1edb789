#include "wizard/ensure_file.h"

#include "wizard/page.h"

namespace wizard {

bool EnsureFileOkEnabled(const EnsureFileValues& values) {
  return !Trimmed(values.destination).empty() && !Trimmed(values.position).empty();
}

EnsureFileValues EnsureFileBrowsed(EnsureFileValues values, std::u16string_view chosen) {
  values.position = std::u16string(chosen);
  values.destination = FileNamePart(chosen);
  return values;
}

EnsureFileValues EnsureFileResult(EnsureFileValues values) {
  return {Trimmed(values.destination), Trimmed(values.position)};
}

}  // namespace wizard
