// Writes the example script the main job packages: "Hello.msd" calls "Greet.msd" and opens
// "readme.txt"; "Greet.msd" opens "notes\thanks.txt". Usage: make_example FOLDER (a
// Windows or host path; the folder is created).
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/unicode.h"
#include "support/macro_builder.h"
#include "support/scratch.h"
#include "support/script_builder.h"

namespace {

constexpr uint16_t kOpenFile = 0x230A;  // its record's payload starts with the file's name

std::vector<uint8_t> NameRecord(std::u16string_view name) {
  std::vector<uint8_t> payload;
  for (char16_t c : name) payload.insert(payload.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  payload.insert(payload.end(), 520 - payload.size(), 0);
  return payload;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example FOLDER\n");
    return 2;
  }
  const std::u16string folder = plat::PathFromHost(argv[1]);
  plat::CreateDirectory(folder);
  plat::CreateDirectory(folder + u"\\notes");

  brankel_test::MacroBuilder hello =
      brankel_test::Calls({{brankel_test::kRunMacro, brankel_test::kByPath, u"Greet.msd"}});
  hello.Name(u"Hello").Command(kOpenFile, 40).Param(40, NameRecord(u"readme.txt"));
  brankel_test::MacroBuilder greet;
  greet.Name(u"Greet").Command(kOpenFile, 1).Param(1, NameRecord(u"notes\\thanks.txt"));

  const bool ok = hello.WriteTo(folder + u"\\Hello.msd") && greet.WriteTo(folder + u"\\Greet.msd") &&
                  brankel_test::WriteBytes(folder + u"\\readme.txt", "Packed by Brankel.\r\n") &&
                  brankel_test::WriteBytes(folder + u"\\notes\\thanks.txt", "Thanks for trying it.\r\n");
  if (!ok) {
    std::fprintf(stderr, "make_example: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
