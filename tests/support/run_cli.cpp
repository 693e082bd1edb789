#include "support/run_cli.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "app/res_string.h"
#include "app/text_format.h"
#include "cli/cli.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace brankel_test {
namespace {

std::string Slurp(std::FILE* stream) {
  std::string text;
  if (stream == nullptr) return text;
  std::rewind(stream);
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, stream)) > 0;) text.append(buffer, got);
  std::fclose(stream);
  return text;
}

}  // namespace

CliOutput RunCli(const std::vector<std::string>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  CliOutput result;
  result.code = cli::RunBrankel(args, out, err);
  result.out = Slurp(out);
  result.err = Slurp(err);
  return result;
}

std::string EnglishText(const char16_t* key, const std::string& file) {
  app::CVLResString table;
  const std::u16string sysdata = plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\sysdata\\";
  EXPECT_TRUE(table.LoadFile(sysdata + u"Packager_en.lng"));
  table.LoadFile(sysdata + u"errormsg_en.lng");
  std::u16string format;
  EXPECT_TRUE(table.GetString(format, key)) << plat::Utf16ToUtf8(key);
  std::string text = plat::Utf16ToUtf8(app::FormatText(format, {plat::Utf8ToUtf16(file)}));
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
  return text;
}

}  // namespace brankel_test
