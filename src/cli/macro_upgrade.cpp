#include "cli/macro_upgrade.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/messages.h"
#include "macro/error_state.h"
#include "macro/legacy_upgrade.h"
#include "macro/macro_format.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace cli {
namespace {

using json = nlohmann::ordered_json;

std::string Code(uint16_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(code));
  return text;
}

std::string Count(uint32_t n, const char* noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

// Each fact is worded as done or, in a dry run, as what would be done.
struct Verb {
  const char* done;
  const char* would;
};

std::string Line(bool dry_run, Verb verb, const std::string& rest) {
  return std::string(dry_run ? "would " : "") + (dry_run ? verb.would : verb.done) + " " + rest + "\n";
}

std::string ReportText(const std::string& file, const std::string& old_copy, const macro::UpgradeReport& report,
                       bool dry_run) {
  const Verb convert{"converted", "convert"};
  const Verb keep{"kept", "keep"};
  std::string text = file + ": version " + std::to_string(report.from_version) + " -> " +
                     std::to_string(macro::kMacroVersion) + (dry_run ? " (dry run: nothing written)" : "") + "\n";
  text += Line(dry_run, convert,
               Count(report.commands, "command") + " (" + Count(report.codes_mapped, "code") + " mapped)");
  text += Line(dry_run, convert, Count(report.named_items, "named item"));
  text +=
      Line(dry_run, convert,
           Count(report.records, "record") + (dry_run ? ", add " : ", added ") + std::to_string(report.records_added));
  text += Line(dry_run, {"widened", "widen"},
               Count(report.texts_widened, "text") + " (" + std::to_string(report.texts_cut) + " cut at their field)");
  std::string codes;
  for (const uint16_t code : report.codes_without_rule) codes += (codes.empty() ? " (codes " : ", ") + Code(code);
  if (!codes.empty()) codes += ")";
  text += Line(dry_run, keep, Count(report.records_without_rule, "record") + " without a rule" + codes);
  text += Line(dry_run, keep, Count(report.records_without_text_rule, "record") + " without a text rule");
  text += Line(dry_run, {"dropped", "drop"}, Count(report.references_dropped, "reference") + " to missing records");
  if (dry_run || !old_copy.empty()) {
    text += Line(dry_run, {"wrote", "write"}, old_copy);
  } else {
    text += "no .old copy was written\n";
  }
  return text;
}

json ReportJson(const macro::UpgradeReport& report, const std::string& old_copy, bool dry_run) {
  json codes = json::array();
  for (const uint16_t code : report.codes_without_rule) codes.push_back(Code(code));
  return json{
      {"from_version", report.from_version},
      {"to_version", report.converted ? macro::kMacroVersion : report.from_version},
      {"converted", report.converted},
      {"dry_run", dry_run},
      {"commands", report.commands},
      {"codes_mapped", report.codes_mapped},
      {"named_items", report.named_items},
      {"records", report.records},
      {"records_added", report.records_added},
      {"records_without_rule", report.records_without_rule},
      {"codes_without_rule", std::move(codes)},
      {"records_without_text_rule", report.records_without_text_rule},
      {"texts_widened", report.texts_widened},
      {"texts_cut", report.texts_cut},
      {"references_dropped", report.references_dropped},
      {"old_copy", old_copy.empty() ? json(nullptr) : json(old_copy)},
  };
}

}  // namespace

int UpgradeMacro(const MacroUpgradeOptions& options, const Streams& io) {
  const std::u16string path = plat::PathFromHost(options.file);
  // The error state outlives a command when commands run in one process.
  macro::ClearMacroFileError();
  char16_t err_key[260] = {};
  macro::UpgradeReport report;
  macro::UpgradeOptions upgrade;
  upgrade.dry_run = options.dry_run;
  if (macro::UpgradeMacroFile(path, 0, err_key, upgrade, &report) != 1) {
    return ReportMacroFailure(options.file, io, err_key);
  }
  if (!report.converted && report.from_version < macro::kMacroVersion) {
    // Left as it is (a version before 258): opening it fails on its version, and so does
    // this command rather than call it current.
    macro::SetMacroFileError(macro::kErrFileVersion, macro::kKeyFileVersion);
    return ReportMacroFailure(options.file, io);
  }
  // The copy is named as the user named the file; the upgrade names it in its own form.
  std::string old_copy;
  if (report.converted && (options.dry_run || !report.old_copy.empty())) {
    old_copy = report.old_copy.empty() || report.old_copy == path + u".old" ? options.file + ".old"
                                                                            : plat::Utf16ToUtf8(report.old_copy);
  }
  if (options.json) {
    std::fputs(
        (ReportJson(report, old_copy, options.dry_run).dump(2, ' ', false, json::error_handler_t::replace) + "\n")
            .c_str(),
        io.out);
  } else if (!report.converted) {
    std::fprintf(io.out, "%s: version %u, nothing to upgrade\n", options.file.c_str(),
                 static_cast<unsigned>(report.from_version));
  } else {
    std::fputs(ReportText(options.file, old_copy, report, options.dry_run).c_str(), io.out);
  }
  return 0;
}

void AddMacroUpgradeCommand(CLI::App& macro, const Streams& streams, int& result) {
  auto options = std::make_shared<MacroUpgradeOptions>();
  CLI::App* command = macro.add_subcommand(
      "upgrade",
      "Rewrite FILE of version 258 or 259 as a current macro file, keeping its version-259 bytes as FILE.old");
  command->add_option("FILE", options->file, "macro file")->required();
  command->add_flag("--dry-run", options->dry_run, "report what would change, and write nothing");
  command->add_flag("--json", options->json, "print one JSON object instead of text");
  command->callback([&result, streams, options] {
    try {
      result = UpgradeMacro(*options, streams);
    } catch (const std::exception& error) {
      // Only memory can run out here; the file is changed only by a whole new one.
      std::fprintf(streams.err, "brankel: %s: %s\n", options->file.c_str(), error.what());
      result = 1;
    }
  });
}

}  // namespace cli
