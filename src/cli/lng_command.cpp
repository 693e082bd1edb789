#include "cli/lng_command.h"

#include <CLI/CLI.hpp>
#include <memory>

#include "app/lang_file.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace cli {
namespace {

std::string Narrow(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

int Check(const std::string& file, const Streams& io) {
  const std::u16string path = plat::PathFromHost(file);
  const app::LanguageFileCheck check = app::CheckLanguageFile(path);
  if (!check.loaded) {
    std::fprintf(io.err, "brankel: %s: the language file cannot be loaded (missing, unreadable or empty)\n",
                 file.c_str());
    return 1;
  }
  if (!check.crc_ok) {
    std::fprintf(io.err,
                 "brankel: %s: the check value does not match its texts\n"
                 "  [Header] CRC: %s\n  expected:     %s\n"
                 "  (run `brankel lng sign` after editing a language file)\n",
                 file.c_str(), check.crc.empty() ? "(none)" : Narrow(check.crc).c_str(),
                 Narrow(check.expected).c_str());
    return 1;
  }
  std::fprintf(io.out, "%s: check value OK, %zu keys\n", file.c_str(), check.keys);
  return 0;
}

int Sign(const std::string& file, const Streams& io) {
  std::u16string message;
  if (!app::SignLanguageFile(plat::PathFromHost(file), &message)) {
    std::fprintf(io.err, "brankel: %s\n", Narrow(message).c_str());
    return 1;
  }
  const app::LanguageFileCheck check = app::CheckLanguageFile(plat::PathFromHost(file));
  std::fprintf(io.out, "%s: signed, CRC=%s, %zu keys\n", file.c_str(), Narrow(check.expected).c_str(), check.keys);
  return 0;
}

}  // namespace

void AddLngCommand(CLI::App& app, const Streams& streams, int& result) {
  CLI::App* lng = app.add_subcommand("lng", "Check or sign a language file (.lng)");
  lng->require_subcommand(1);

  auto check_file = std::make_shared<std::string>();
  CLI::App* check = lng->add_subcommand("check", "Load FILE as the program does and verify its check value");
  check->add_option("FILE", *check_file, "language file")->required();
  check->callback([&result, streams, check_file] { result = Check(*check_file, streams); });

  auto sign_file = std::make_shared<std::string>();
  CLI::App* sign = lng->add_subcommand("sign", "Write the check value into FILE's [Header], keeping its encoding");
  sign->add_option("FILE", *sign_file, "language file")->required();
  sign->callback([&result, streams, sign_file] { result = Sign(*sign_file, streams); });
}

}  // namespace cli
