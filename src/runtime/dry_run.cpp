#include "runtime/dry_run.h"

#include <cstddef>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include "analysis/extra_files.h"
#include "analysis/macro_collection.h"
#include "analysis/references.h"
#include "macro/attachments.h"
#include "macro/macro_file.h"
#include "macro/macro_format.h"
#include "packager/reference_rewrite.h"
#include "packager/runtime_modules.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/options.h"
#include "project/target_name.h"

namespace runtime {
namespace {

using analysis::StartsWithInput;
using analysis::TrimBlanks;

using packager::FindTextSource;
using packager::TextForm;
using packager::TextSource;

constexpr size_t kTextUnits = 260;
constexpr size_t k3106Flags = 0x654;
constexpr uint8_t k3106FirstName = 0x02;
constexpr size_t k3106FurtherCount = 0x1086;
constexpr char16_t kInputPrefix[] = u"IN:";

// Payload offsets of the option fields (record offset less the 16 bytes before them).
constexpr size_t kOptionsBase = 16;
constexpr size_t kShowStartupAt = offsetof(project::MakeExeOptions, ShowStartup) - kOptionsBase;
constexpr size_t kTipsAt = offsetof(project::MakeExeOptions, AuthorTips) - kOptionsBase;
constexpr size_t kAddressAt = offsetof(project::MakeExeOptions, RelatedUrl) - kOptionsBase;

std::u16string_view FilePart(std::u16string_view name) {
  const size_t slash = name.rfind(u'\\');
  return slash == std::u16string_view::npos ? name : name.substr(slash + 1);
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && plat::EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string Hex4(uint16_t code) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(4, '0');
  for (int i = 3; i >= 0; --i) {
    text[static_cast<size_t>(i)] = kDigits[code & 0xF];
    code = static_cast<uint16_t>(code >> 4);
  }
  return text;
}

// One macro being played: its reader and, once asked for, its attachments.
struct PlayedMacro {
  std::u16string name;
  std::unique_ptr<macro::CFile_Macro> file = std::make_unique<macro::CFile_Macro>();
  std::unique_ptr<macro::CAttachments_Manager> attachments;
  bool attachments_read = false;

  macro::CAttachments_Manager* Attachments() {
    if (!attachments_read) {
      attachments_read = true;
      attachments = std::make_unique<macro::CAttachments_Manager>();
      // A damaged area keeps what could be read; missing streams do not resolve.
      attachments->ReadFromMacroMemory(file->Memory(), file->Header());
    }
    return attachments.get();
  }
};

class Walker {
 public:
  Walker(const packager::PayloadA& payload, std::u16string_view run_folder, ModuleLoaded loaded)
      : payload_(payload), loaded_(loaded) {
    folder_ = project::NormalizePath(run_folder);
    while (!folder_.empty() && folder_.back() == u'\\') folder_.pop_back();
  }

  DryRunResult Run() {
    const packager::PayloadARecord* script = nullptr;
    for (const packager::PayloadARecord& record : payload_.records) {
      if (record.type == packager::kEntryMacroFile && plat::EqualNoCase(FilePart(record.name), payload_.script_name)) {
        script = &record;
        break;
      }
    }
    if (script == nullptr) {
      result_.first_unresolved = "the script " + plat::Utf16ToUtf8(payload_.script_name) + " is not packed";
    } else {
      PlayMacro(script->name, script->data, 0);
    }
    result_.exit_code = result_.first_unresolved.empty() ? kExitPlayed : kExitUnresolved;
    return std::move(result_);
  }

 private:
  // Plays one macro's commands; a file the reader refuses is an unresolved call.
  void PlayMacro(const std::u16string& name, plat::ByteView bytes, int depth) {
    PlayedMacro played;
    played.name = name;
    const macro::MacroCommand* commands = nullptr;
    if (!played.file->OpenMemory(bytes) || !played.file->ReadCommands(&commands)) {
      Unresolved(name, 0, "the macro " + plat::Utf16ToUtf8(name) + " cannot be read");
      result_.trace.push_back(plat::Utf16ToUtf8(name) + "\t0\t0000\tunresolved the macro cannot be read");
      return;
    }
    chain_.push_back(plat::ToLower(name));
    const uint32_t count = commands == nullptr ? 0 : played.file->Header().CommandCount;
    for (uint32_t i = 0; i < count && !stopped_; ++i) {
      if (++played_commands_ > kMaxPlayedCommands) {
        stopped_ = true;
        result_.trace.push_back(plat::Utf16ToUtf8(name) + "\t" + std::to_string(i + 1) +
                                "\t0000\tunresolved the walk stopped");
        Unresolved(name, i + 1, "the walk stopped after " + std::to_string(kMaxPlayedCommands) + " commands");
        break;
      }
      PlayCommand(played, commands[i], i + 1, depth);
    }
    chain_.pop_back();
  }

  void PlayCommand(PlayedMacro& played, const macro::MacroCommand& command, uint32_t line, int depth) {
    const std::string head = plat::Utf16ToUtf8(played.name) + "\t" + std::to_string(line) + "\t" + Hex4(command.Code);
    if (command.Flags & macro::kCommandDisabled) {
      result_.trace.push_back(head + "\tdisabled");
      return;
    }
    const plat::ByteView payload =
        macro::ParamRecordPayload(macro::FindParamRecord(command.ParamId, played.file->ParamView()));
    const uint32_t needs = packager::CommandModuleNeeds(command.Code, payload);
    result_.module_needs |= needs;

    std::vector<std::string> parts;
    line_ = line;
    const TextSource* source = FindTextSource(command.Code);
    // A call's own line comes first; the called macro's lines follow it.
    std::optional<std::pair<std::u16string, plat::ByteView>> callee;
    std::vector<uint8_t> embedded;
    if (source != nullptr && source->form == TextForm::kMacroCall) {
      parts.push_back(ResolveCall(played, *source, payload, depth, &callee, &embedded));
    } else if (source != nullptr) {
      for (const std::u16string& name : NamesOf(*source, payload)) parts.push_back(ResolveFile(played, name));
    }
    if (loaded_ != nullptr) {
      for (int row = 0; row < packager::kRuntimeModuleCount; ++row) {
        const packager::RuntimeModule& module = modules_.Row(row);
        if (module.imported && (needs & module.category) && !loaded_(module.category)) {
          parts.push_back("module " + plat::Utf16ToUtf8(module.file_name) + " not loaded");
        }
      }
    }
    std::string text = head + "\t";
    for (size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : "; ") + parts[i];
    result_.trace.push_back(std::move(text));
    if (callee) PlayMacro(callee->first, callee->second, depth + 1);
  }

  // The names a file command gives, trimmed; empty texts left out.
  static std::vector<std::u16string> NamesOf(const TextSource& source, plat::ByteView payload) {
    std::vector<std::u16string> names;
    const auto add = [&names](std::u16string_view text) {
      const std::u16string_view trimmed = TrimBlanks(text);
      if (!trimmed.empty()) names.emplace_back(trimmed);
    };
    if (source.code == 0x1205 &&
        !(payload.U8Or(0x24F, 0) != 0 && payload.U8Or(0x569, 0) != 0 && payload.U8Or(0x56A, 0) == 1)) {
      return names;
    }
    if (source.form == TextForm::kCommandList) {
      uint64_t further = 0;
      const std::u16string first = payload.Utf16z(source.offset, SIZE_MAX, &further);
      if (payload.U8Or(k3106Flags, 0) & k3106FirstName) add(first);
      if (payload.U16Or(k3106FurtherCount, 0) != 0) {
        for (;;) {
          const uint64_t at = further;
          const std::u16string text = payload.Utf16z(at, SIZE_MAX, &further);
          if (text.empty()) break;
          add(text);
        }
      }
      return names;
    }
    const std::u16string text = payload.Utf16z(source.offset, kTextUnits);
    if (source.form == TextForm::kOneName) {
      add(text);
      return names;
    }
    if (TrimBlanks(text).empty()) return names;
    const analysis::CVLMultipleFilename list(text);
    for (size_t i = 0; i < list.Count(); ++i) {
      // An input stands alone; the common folder belongs to the files.
      const std::u16string_view item = TrimBlanks(list.Name(i));
      if (StartsWithInput(item)) {
        add(item);
      } else {
        add(list.Path(i));
      }
    }
    return names;
  }

  std::string ResolveFile(PlayedMacro& played, const std::u16string& name) {
    const std::string shown = plat::Utf16ToUtf8(name);
    if (name.find(u'%') != std::u16string::npos) return "variable " + shown;
    if (StartsWithInput(name)) {
      const std::u16string stream(TrimBlanks(std::u16string_view(name).substr(std::size(kInputPrefix) - 1)));
      if (!stream.empty() && played.Attachments()->StreamSize(stream)) return "file IN:" + plat::Utf16ToUtf8(stream);
      return Unresolved(played.name, line_, shown);
    }
    if (analysis::IsAbsolutePath(name)) {
      // The build names packed files relative to the run folder: an absolute name that
      // lies elsewhere points at the building machine.
      const std::u16string path = project::NormalizePath(name);
      if (InsideRunFolder(path) && analysis::IsExistingFile(path)) return "file " + plat::Utf16ToUtf8(path);
      return Unresolved(played.name, line_, shown);
    }
    const std::u16string path = project::NormalizePath(folder_ + u"\\" + name);
    if (InsideRunFolder(path) && analysis::IsExistingFile(path)) return "file " + plat::Utf16ToUtf8(path);
    if (name.find(u'\\') == std::u16string::npos && name.find(u':') == std::u16string::npos) {
      const std::u16string found = plat::SearchPath(name);
      if (!found.empty()) return "file " + plat::Utf16ToUtf8(found);
    }
    return Unresolved(played.name, line_, shown);
  }

  bool InsideRunFolder(const std::u16string& path) const {
    return path.size() > folder_.size() + 1 && path[folder_.size()] == u'\\' &&
           plat::EqualNoCase(std::u16string_view(path).substr(0, folder_.size()), folder_);
  }

  std::string ResolveCall(PlayedMacro& played, const TextSource& source, plat::ByteView payload, int depth,
                          std::optional<std::pair<std::u16string, plat::ByteView>>* callee,
                          std::vector<uint8_t>* embedded) {
    const uint8_t kind = payload.U8Or(source.kind_offset, analysis::kRefNotAFile);
    if (kind != analysis::kRefLibraryName && kind != analysis::kRefFilePath) return "";
    const std::u16string text = payload.Utf16z(source.offset, kTextUnits);
    const std::u16string trimmed(TrimBlanks(text));
    const std::string shown = plat::Utf16ToUtf8(trimmed);
    if (trimmed.find(u'%') != std::u16string::npos) return "variable " + shown;
    if (trimmed.empty()) return Unresolved(played.name, line_, "an empty call");

    std::u16string name;
    plat::ByteView bytes;
    if (StartsWithInput(trimmed)) {
      const std::u16string stream(TrimBlanks(std::u16string_view(trimmed).substr(std::size(kInputPrefix) - 1)));
      std::optional<std::vector<uint8_t>> read;
      if (!stream.empty()) read = played.Attachments()->ReadStream(stream);
      if (!read) return Unresolved(played.name, line_, shown);
      *embedded = std::move(*read);
      bytes = plat::ByteView(*embedded);
      name = played.name + u" IN:" + stream;
    } else {
      // A library name (kind 0) that the build did not rewrite names a macro it did not pack.
      const packager::PayloadARecord* record = nullptr;
      if (kind == analysis::kRefFilePath) {
        const uint32_t hash = packager::RecordNameHash(trimmed);
        for (const packager::PayloadARecord& candidate : payload_.records) {
          if (candidate.type == packager::kEntryMacroFile && candidate.name_hash == hash) {
            record = &candidate;
            break;
          }
        }
      }
      if (record == nullptr) return Unresolved(played.name, line_, shown);
      name = record->name;
      bytes = record->data;
    }
    const std::u16string key = plat::ToLower(name);
    for (const std::u16string& on_chain : chain_) {
      if (on_chain == key) return "cycle " + plat::Utf16ToUtf8(name);
    }
    if (depth + 1 >= kMaxCallDepth) return "too deep " + plat::Utf16ToUtf8(name);
    *callee = std::make_pair(name, bytes);
    return "call " + plat::Utf16ToUtf8(name);
  }

  std::string Unresolved(const std::u16string& macro_name, uint32_t line, const std::string& text) {
    if (result_.first_unresolved.empty()) {
      result_.first_unresolved = plat::Utf16ToUtf8(macro_name) + " line " + std::to_string(line) + ": " + text;
    }
    return "unresolved " + text;
  }

  const packager::PayloadA& payload_;
  ModuleLoaded loaded_;
  std::u16string folder_;
  packager::RuntimeModules modules_;
  DryRunResult result_;
  std::vector<std::u16string> chain_;  // lower-cased names of the macros being played
  uint32_t played_commands_ = 0;
  uint32_t line_ = 0;
  bool stopped_ = false;
};

}  // namespace

std::optional<packager::PayloadA> ReadPlayerPayload(plat::ByteView section, std::string* refusal) {
  std::optional<packager::PayloadA> payload = packager::ReadPayloadA(section, refusal);
  if (!payload) return std::nullopt;
  if (section.U16Or(4, 0) != packager::kPayloadAFirstRecord) {
    if (refusal != nullptr) *refusal = "payload A: the first record is not at 0x4000";
    return std::nullopt;
  }
  return payload;
}

PlayerOptions ReadPlayerOptions(plat::ByteView options) {
  PlayerOptions read;
  read.show_startup = options.U8Or(kShowStartupAt, 0) != 0;
  read.author_tips = options.Utf16z(kTipsAt, kTextUnits);
  read.address = options.Utf16z(kAddressAt, 130);
  return read;
}

std::optional<plat::ByteView> FindLanguageRecord(const packager::PayloadA& payload, std::u16string_view prefix) {
  for (const packager::PayloadARecord& record : payload.records) {
    if (record.type == packager::kEntryLanguageFile && StartsWithNoCase(FilePart(record.name), prefix)) {
      return record.data;
    }
  }
  return std::nullopt;
}

DryRunResult WalkPayload(const packager::PayloadA& payload, std::u16string_view run_folder, ModuleLoaded loaded) {
  try {
    return Walker(payload, run_folder, loaded).Run();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  DryRunResult result;
  result.exit_code = kExitUnresolved;
  result.first_unresolved = "out of memory";
  return result;
}

DryRunResult PlayDryRun(plat::ByteView section, std::u16string_view run_folder, ModuleLoaded loaded) {
  DryRunResult result;
  std::optional<packager::PayloadA> payload;
  try {
    payload = ReadPlayerPayload(section, &result.refusal);
  } catch (const std::bad_alloc&) {
    result.refusal = "out of memory";
  }
  if (!payload) return result;
  return WalkPayload(*payload, run_folder, loaded);
}

std::string TraceText(const DryRunResult& result) {
  std::string text;
  for (const std::string& line : result.trace) text += line + "\n";
  return text;
}

}  // namespace runtime
