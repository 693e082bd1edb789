// Arbitrary bytes as the parameter payload of every command that names files: whatever the
// payload holds, the reading of its names stays inside it, gives each name from a text that
// starts inside the payload (or at the command's own offset when the payload is shorter),
// never a variable or an input, with its hash in range. The same bytes also go through the
// name-list split.
//
// Only the payload is read here, nothing is resolved on disk, so a run is fast;
// -max_len=8192 lets the 0x3106 names (which start past 4 KB) be reached.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/extra_files.h"
#include "analysis/references.h"
#include "platform/byte_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so that any read past the payload is caught.
  const std::vector<uint8_t> payload(data, data + size);
  const plat::ByteView view(payload);
  for (uint16_t code : analysis::kExtraFileCommandCodes) {
    const analysis::CommandNames found = analysis::ReadCommandNames(code, view);
    // The 0x3106 names are never offered again; every other command's are.
    if (code == 0x3106 && found.offer_again) __builtin_trap();
    for (const analysis::CommandName& named : found.names) {
      if (named.hash > 0x7FFFFFFFu) __builtin_trap();
      if (named.name.find(u'%') != std::u16string::npos) __builtin_trap();
      // (A leading ".\" goes after the input test, so only 0x3106 names keep it exactly.)
      if (code == 0x3106 && analysis::StartsWithInput(analysis::TrimBlanks(named.name))) __builtin_trap();
      // Each name is at most its text, which lies inside the payload (a 0x3106 first name
      // may start at its offset past a short payload's end, and is then empty).
      if (named.text_offset < size) {
        if (named.name.size() > (size - named.text_offset) / 2) __builtin_trap();
      } else if (!named.name.empty()) {
        __builtin_trap();
      }
    }
    // A 0x3106 text follows the one before it; every other command reads one text, the
    // names of a list sharing it.
    for (size_t i = 1; i < found.names.size(); ++i) {
      const size_t before = found.names[i - 1].text_offset;
      const size_t at = found.names[i].text_offset;
      if (code == 0x3106 ? at <= before : at != before) __builtin_trap();
    }
  }

  // The bytes as a list of names: every name lies inside the text, and the folder is a
  // start of it.
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = view.U16Or(2 * i, 0);
  const analysis::CVLMultipleFilename names(text);
  if (names.Count() == 0 || text.compare(0, names.Folder().size(), names.Folder()) != 0) __builtin_trap();
  for (size_t i = 0; i < names.Count(); ++i) {
    if (names.Name(i).size() > text.size()) __builtin_trap();
  }
  return 0;
}
