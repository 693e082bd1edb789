#include "cli/macro_command.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/res_string.h"
#include "cli/installation.h"
#include "cli/macro_info.h"
#include "cli/macro_new.h"
#include "cli/macro_upgrade.h"
#include "cli/messages.h"
#include "cli/report.h"
#include "macro/attachments.h"
#include "macro/error_state.h"
#include "macro/macro_file.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace cli {
namespace {

struct InfoOptions {
  std::string file;
  bool json = false;
};

int Info(const InfoOptions& options, const Streams& io) {
  const std::u16string path = plat::PathFromHost(options.file);
  macro::CFile_Macro macro;
  const macro::MacroCommand* commands = nullptr;
  // The parameter block is loaded on its own as well: ReadCommands skips it in a macro
  // without commands, and its size is only known once it has been expanded.
  if (!macro.Open(path) || !macro.ReadCommands(&commands) || !macro.GetParamBlock(nullptr)) {
    return ReportMacroFailure(options.file, io);
  }
  const uint16_t stored_items = macro.Header().NamedItemCount;
  // A table the file cannot hold is a damaged file; one that merely does not unpack is
  // dropped, as the packager drops it.
  if (!macro.LoadNamedItems()) return ReportMacroFailure(options.file, io);
  if (const char16_t* key = macro::GetMacroFileError(nullptr); key != nullptr && stored_items != 0) {
    // The packager goes on without a table it cannot read; say so, but it is no failure.
    const std::u16string key_copy = key;
    std::fprintf(io.err, "brankel: %s: named items dropped: %s\n", options.file.c_str(),
                 plat::Utf16ToUtf8(KeyText(key_copy, options.file)).c_str());
  }
  MacroInfo info = DescribeMacro(macro, options.file);
  info.named_item_count = stored_items;  // the header's value, even when the table was dropped
  const std::string text = options.json ? MacroInfoJson(info) : MacroInfoText(info);
  std::fputs(text.c_str(), io.out);
  return 0;
}

}  // namespace

struct AttachmentOptions {
  std::string file;
  std::string extract;
  std::string to;
  bool json = false;
};

// Lists a macro file's attachments, or extracts one of them.
int Attachments(const AttachmentOptions& options, const Streams& io) {
  const std::u16string path = plat::PathFromHost(options.file);
  macro::CFile_Macro file;
  if (!file.Open(path)) return ReportMacroFailure(options.file, io);
  macro::CAttachments_Manager attachments;
  if (!attachments.ReadFromMacroFile(file.File(), file.Header())) {
    // The records name what went wrong; the area's own texts give it words.
    app::CVLResString table;
    for (const std::u16string& folder : LanguageFolders()) {
      if (table.LoadFile(folder + u"Packager_en.lng")) break;
    }
    macro::CMacroError texts(&table);
    attachments.CopyTo(texts);
    const char16_t* message = texts.GetMessages(true, true);
    std::fprintf(io.err, "brankel: %s: %s\n", options.file.c_str(),
                 plat::Utf16ToUtf8(ConsoleLines(message != nullptr ? message : u"")).c_str());
    return 1;
  }
  if (!options.extract.empty()) {
    const std::u16string name = plat::Utf8ToUtf16(options.extract);
    const std::u16string target = plat::PathFromHost(options.to.empty() ? options.extract : options.to);
    if (!attachments.ExtractStream(name, target)) {
      std::fprintf(io.err, "brankel: %s: cannot extract \"%s\"\n", options.file.c_str(), options.extract.c_str());
      return 1;
    }
    std::fprintf(io.out, "%s -> %s\n", options.extract.c_str(), plat::Utf16ToUtf8(target).c_str());
    return 0;
  }
  nlohmann::ordered_json items = nlohmann::ordered_json::array();
  for (uint32_t i = 0; i < attachments.Count(); ++i) {
    const std::optional<uint64_t> size = attachments.StreamSize(attachments.StreamName(i));
    items.push_back({{"extension", plat::Utf16ToUtf8(attachments.Extension(i))},
                     {"stream", plat::Utf16ToUtf8(attachments.StreamName(i))},
                     {"size", size ? nlohmann::ordered_json(*size) : nlohmann::ordered_json("missing")}});
  }
  nlohmann::ordered_json report;
  report["attachments"] = items;
  PrintReport(io.out, report, options.json);
  return 0;
}

void AddMacroCommand(CLI::App& app, const Streams& streams, int& result) {
  CLI::App* macro =
      app.add_subcommand("macro", "Inspect a macro file (.msd, .msl), write a new one, or upgrade an old one");
  macro->require_subcommand(1);

  auto options = std::make_shared<InfoOptions>();
  CLI::App* info = macro->add_subcommand("info", "Show FILE's header, named items and commands");
  info->add_option("FILE", options->file, "macro file")->required();
  info->add_flag("--json", options->json, "print one JSON object instead of text");
  info->callback([&result, streams, options] {
    try {
      result = Info(*options, streams);
    } catch (const std::exception& error) {
      // Only memory can run out here; the report is dropped, not the program.
      std::fprintf(streams.err, "brankel: %s: %s\n", options->file.c_str(), error.what());
      result = 1;
    }
  });

  auto attached = std::make_shared<AttachmentOptions>();
  CLI::App* attachments = macro->add_subcommand("attachments", "List the files attached to FILE, or extract one");
  attachments->add_option("FILE", attached->file, "macro file")->required();
  CLI::Option* extract =
      attachments->add_option("--extract", attached->extract, "the attachment (stream name) to extract");
  attachments->add_option("--to", attached->to, "where to write it (default: its name)")->needs(extract);
  attachments->add_flag("--json", attached->json, "print one JSON object instead of text");
  attachments->callback([&result, streams, attached] { result = Attachments(*attached, streams); });

  AddMacroNewCommand(*macro, streams, result);
  AddMacroUpgradeCommand(*macro, streams, result);
}

}  // namespace cli
