#include "cli/pe_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/res_string.h"
#include "app/system_error.h"
#include "app/text_format.h"
#include "cli/macro_command.h"
#include "cli/messages.h"
#include "cli/report.h"
#include "pe/pe_image.h"
#include "pe/pe_resources.h"
#include "pe/version_info.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace cli {
namespace {

using nlohmann::ordered_json;

constexpr char kDealPlayer[] = "IDS_ERR_EXEMACRO_DEALPLAYER";

// ---- Failure messages -------------------------------------------------------------------

int Report(const Streams& io, const std::string& file, const std::u16string& text) {
  std::fprintf(io.err, "brankel: %s: %s\n", file.c_str(), plat::Utf16ToUtf8(ConsoleLines(text)).c_str());
  return 1;
}

// A message key's text about `file`, followed by the system's reason for `error` and the
// refusing reader's own sentence when there is one. The build fills a key's "%s" with the
// path it names when there is one; a key that names no path ("The player for the EXE
// could not be prepared.\n%s") takes the reason there.
int ReportKey(const Streams& io, const std::string& file, const char* key, const std::u16string& argument,
              uint32_t error, const std::string& refusal = {}) {
  const std::u16string format = LanguageText(plat::AsciiToUtf16(key));
  const std::u16string reason = error == plat::err::kSuccess ? std::u16string() : SystemText(error, file);
  const bool takes_argument = format.find(u"%s") != std::u16string::npos;
  const bool reason_inside = takes_argument && argument.empty();
  std::u16string text = takes_argument ? app::FormatText(format, {argument.empty() ? reason : argument}) : format;
  if (!reason.empty() && !reason_inside) text += u"\n" + reason;
  // Appended piece by piece: 32-bit MinGW's GCC warns (-Wrestrict) on a literal + temporary.
  if (!refusal.empty()) {
    text += u'\n';
    text += plat::AsciiToUtf16(refusal);
  }
  return Report(io, file, text);
}

// Reads the executable whole and parses it as the build's editor does. Reports why
// not and returns false when it cannot, so the edits below refuse a file the user named
// wrongly with the plain reason rather than the build's own failure.
bool LoadExe(const Streams& io, const std::string& file, pe::CPE_ImageEditor& image) {
  const std::u16string path = plat::PathFromHost(file);
  plat::FileHandle handle =
      plat::OpenFile(path, plat::kGenericRead, plat::kShareRead | plat::kShareWrite, plat::Disposition::kOpenExisting);
  if (handle == nullptr) {
    ReportKey(io, file, "IDS_ERR_OPENFILE", path, plat::GetLastError());
    return false;
  }
  plat::SetLastError(plat::err::kSuccess);
  std::optional<std::string> bytes = plat::ReadOpenFile(handle, 0xFFFFFFFEu);
  const uint32_t error = plat::GetLastError();
  plat::CloseFile(handle);
  if (!bytes) {
    // Only a file too large for the editor fails without a system error.
    ReportKey(io, file, "IDS_ERR_READFILE", path, error == plat::err::kSuccess ? plat::err::kNotEnoughMemory : error);
    return false;
  }
  std::vector<uint8_t> data(bytes->begin(), bytes->end());
  bytes.reset();
  if (!image.Parse(std::move(data))) {
    Report(io, file, SystemText(plat::err::kBadExeFormat, file) + u"\n" + plat::AsciiToUtf16(image.RefusalText()));
    return false;
  }
  return true;
}

// ---- info -------------------------------------------------------------------------------

struct InfoOptions {
  std::string exe;
  bool json = false;
};

// Names and texts read from a file may hold any bytes; JSON needs valid UTF-8, and a
// console is best served with what can be seen.
std::string Printable(plat::ByteView text) {
  std::string out;
  for (const uint8_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

struct StandardType {
  uint16_t id;
  const char* name;
};
constexpr StandardType kStandardTypes[] = {
    {1, "CURSOR"},        {2, "BITMAP"},        {3, "ICON"},        {4, "MENU"},        {5, "DIALOG"},
    {6, "STRING"},        {7, "FONTDIR"},       {8, "FONT"},        {9, "ACCELERATOR"}, {10, "RCDATA"},
    {11, "MESSAGETABLE"}, {12, "GROUP_CURSOR"}, {14, "GROUP_ICON"}, {16, "VERSION"},    {17, "DLGINCLUDE"},
    {19, "PLUGPLAY"},     {20, "VXD"},          {21, "ANICURSOR"},  {22, "ANIICON"},    {23, "HTML"},
    {24, "MANIFEST"}};

ordered_json KeyJson(const pe::ResourceKey& key) {
  return key.IsName() ? ordered_json(plat::Utf16ToUtf8(key.name)) : ordered_json(key.id);
}

std::string TypeName(const pe::ResourceKey& type) {
  if (type.IsName()) return plat::Utf16ToUtf8(type.name);
  for (const StandardType& standard : kStandardTypes) {
    if (standard.id == type.id) return standard.name;
  }
  return std::to_string(type.id);
}

std::string VersionText(plat::ByteView block, const pe::VersionValue& value) {
  std::u16string text;
  for (size_t i = 0; i + 1 < value.size; i += 2) {
    const char16_t c = static_cast<char16_t>(block.U16Or(value.offset + i, 0));
    if (c == 0) break;
    text += c;
  }
  return plat::Utf16ToUtf8(text);
}

// The version resource the build blanks, and its texts found the way the build finds
// them: through the first translation.
ordered_json DescribeVersion(const pe::ResourceTable& table) {
  const pe::ResourceItem* item = table.Find(pe::res::kTypeVersion, 1, pe::res::kLanguageNeutral);
  if (item == nullptr) return nullptr;
  ordered_json version;
  version["file_version"] = nullptr;
  version["fixed_file_version"] = nullptr;
  version["fixed_product_version"] = nullptr;
  const std::vector<uint8_t>& data = item->data;
  if (data.size() < 2) return version;
  const plat::ByteView block = plat::ByteView(data).First(plat::ByteView(data).U16Or(0, 0));
  const size_t size = block.size();

  if (const std::optional<pe::FixedVersion> fixed = pe::ReadFixedVersion(block)) {
    version["fixed_file_version"] = pe::DottedVersion(fixed->file_ms, fixed->file_ls);
    version["fixed_product_version"] = pe::DottedVersion(fixed->product_ms, fixed->product_ls);
  }
  const std::optional<pe::VersionValue> translation =
      pe::QueryVersionValue(block.data(), size, u"\\VarFileInfo\\Translation");
  if (translation && translation->size >= 4) {
    static constexpr char16_t kHex[] = u"0123456789abcdef";
    std::u16string path = u"\\StringFileInfo\\";
    for (uint16_t half : {block.U16Or(translation->offset, 0), block.U16Or(translation->offset + 2, 0)}) {
      for (int shift = 12; shift >= 0; shift -= 4) path += kHex[(half >> shift) & 0xF];
    }
    if (const std::optional<pe::VersionValue> text =
            pe::QueryVersionValue(block.data(), size, path + u"\\FileVersion")) {
      version["file_version"] = VersionText(block, *text);
    }
  }
  return version;
}

ordered_json Describe(const pe::CPE_ImageEditor& image, const std::u16string& path, bool json) {
  // Text readers want addresses and flags as the headers are usually shown.
  auto hex = [json](uint32_t value) -> ordered_json {
    if (json) return value;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
  };
  ordered_json report;
  ordered_json notes = ordered_json::array();
  report["file"] = plat::Utf16ToUtf8(path);
  report["format"] = image.IsPe32Plus() ? "PE32+" : "PE32";
  report["size"] = image.ImageSize();

  const plat::ByteView bytes(image.Image(), image.ImageSize());
  const size_t checksum_at = size_t{bytes.U32Or(pe::pe::kLfanewOffset, 0)} + pe::pe::kCheckSum;
  const uint32_t stored = bytes.U32Or(checksum_at, 0);
  const uint32_t computed = pe::PeChecksum(bytes.data(), bytes.size(), checksum_at);
  report["checksum"] = {{"stored", hex(stored)}, {"computed", hex(computed)}, {"matches", stored == computed}};

  ordered_json sections = ordered_json::array();
  for (int slot = 0; slot < image.SectionCount(); ++slot) {
    const pe::SectionHeader& s = image.Section(slot);
    const size_t name_length = std::find(s.Name, s.Name + sizeof s.Name, '\0') - s.Name;
    sections.push_back({{"name", Printable(plat::ByteView(reinterpret_cast<const uint8_t*>(s.Name), name_length))},
                        {"virtual_address", hex(s.VirtualAddress)},
                        {"virtual_size", hex(s.VirtualSize)},
                        {"raw_pointer", hex(s.PointerToRawData)},
                        {"raw_size", hex(s.SizeOfRawData)},
                        {"characteristics", hex(s.Characteristics)}});
  }
  report["sections"] = sections;

  const pe::ImportTable imports = image.Imports();
  ordered_json names = ordered_json::array();
  for (const std::string& name : imports.names) names.push_back(Printable(plat::ByteView(name)));
  report["imports"] = names;
  if (imports.damage != pe::ImportTable::Damage::kNone) notes.push_back(imports.Note());

  pe::ResourceTable table;
  if (!table.Read(image)) notes.push_back("resource directory: " + table.RefusalText() + ", no resources listed");
  ordered_json resources = ordered_json::array();
  for (const pe::ResourceItem& item : table.Items()) {
    resources.push_back({{"type", KeyJson(item.type)},
                         {"type_name", TypeName(item.type)},
                         {"name", KeyJson(item.name)},
                         {"language", item.language},
                         {"code_page", item.code_page},
                         {"size", item.data.size()}});
  }
  report["resources"] = resources;
  report["version"] = DescribeVersion(table);
  report["notes"] = notes;
  return report;
}

int Info(const InfoOptions& options, const Streams& io) {
  pe::CPE_ImageEditor image;
  if (!LoadExe(io, options.exe, image)) return 1;
  PrintReport(io.out, Describe(image, plat::PathFromHost(options.exe), options.json), options.json);
  return 0;
}

// ---- the edits --------------------------------------------------------------------------

struct IconOptions {
  std::string exe;
  std::string icon;
  uint16_t group = pe::kExeIconGroup;
};

struct BitmapOptions {
  std::string exe;
  std::string bitmap;
  uint16_t id = pe::kStartupPictureId;
};

// The executable is looked at before the edit so that a wrong file is refused with the
// plain reason; the edit itself reloads it.
bool CheckExe(const Streams& io, const std::string& file) {
  pe::CPE_ImageEditor image;
  return LoadExe(io, file, image);
}

int SetIcon(const IconOptions& options, const Streams& io) {
  if (!CheckExe(io, options.exe)) return 1;
  const std::optional<pe::IconData> icon = pe::ReadIconFile(plat::PathFromHost(options.icon));
  if (!icon) {
    const uint32_t error = plat::GetLastError();
    const bool missing = error == plat::err::kFileNotFound || error == plat::err::kPathNotFound;
    return ReportKey(io, options.icon, missing ? "IDS_ERR_FINDICONFILE" : "IDS_ERR_LOADICON", {}, error);
  }
  std::string refusal;
  if (!pe::ReplaceIconGroup(plat::PathFromHost(options.exe), options.group, *icon, &refusal)) {
    return ReportKey(io, options.exe, kDealPlayer, {}, plat::GetLastError(), refusal);
  }
  const size_t images = pe::IconImages(icon->Data(), icon->length)->size();
  std::fprintf(io.out, "%s: icon group %u replaced with %zu image%s\n", options.exe.c_str(), unsigned{options.group},
               images, images == 1 ? "" : "s");
  return 0;
}

int SetBitmap(const BitmapOptions& options, const Streams& io) {
  if (!CheckExe(io, options.exe)) return 1;
  const pe::EditOutcome outcome =
      pe::ReplaceStartupPicture(plat::PathFromHost(options.exe), plat::PathFromHost(options.bitmap), options.id);
  if (!outcome.Succeeded()) {
    const uint32_t error = plat::GetLastError();
    // Every failure but the executable's own is about the picture file.
    const bool exe_failed = std::strcmp(outcome.key, kDealPlayer) == 0;
    return ReportKey(io, exe_failed ? options.exe : options.bitmap, outcome.key, outcome.argument, error,
                     outcome.reason);
  }
  std::fprintf(io.out, "%s: bitmap %u replaced\n", options.exe.c_str(), unsigned{options.id});
  return 0;
}

int BlankVersion(const std::string& exe, const Streams& io) {
  if (!CheckExe(io, exe)) return 1;
  plat::SetLastError(plat::err::kSuccess);
  std::string refusal;
  const bool found = pe::BlankVersionStrings(plat::PathFromHost(exe), &refusal);
  const uint32_t error = plat::GetLastError();
  if (!found) {
    if (error == plat::err::kResourceTypeNotFound) {
      return Report(io, exe, u"no version resource to empty\n" + SystemText(error, exe));
    }
    if (error == plat::err::kResourceNameNotFound) {
      return Report(io, exe,
                    u"the version resource has no translation to find its texts by\n" + SystemText(error, exe));
    }
    return ReportKey(io, exe, kDealPlayer, {}, error, refusal);
  }
  // The build goes on when the emptied block cannot be written back, as the system's
  // service does; here the user asked for nothing else, so it is a failure. A finished
  // write leaves no error behind.
  if (error != plat::err::kSuccess) return ReportKey(io, exe, kDealPlayer, {}, error, refusal);
  std::fprintf(io.out, "%s: version texts emptied\n", exe.c_str());
  return 0;
}

// Runs a command; only memory can run out in the reports, and then the command fails
// rather than the program.
template <typename Command>
void Run(int& result, const Streams& io, const std::string& file, Command command) {
  try {
    result = command();
  } catch (const std::exception& error) {
    std::fprintf(io.err, "brankel: %s: %s\n", file.c_str(), error.what());
    result = 1;
  }
}

}  // namespace

void AddPeCommand(CLI::App& app, const Streams& streams, int& result) {
  CLI::App* pe =
      app.add_subcommand("pe", "Look into a Windows executable, or apply one of the EXE build's edits to it");
  pe->require_subcommand(1);

  auto info_options = std::make_shared<InfoOptions>();
  CLI::App* info = pe->add_subcommand("info", "Show EXE's format, sections, imports, resources and checksum");
  info->add_option("EXE", info_options->exe, "Windows executable")->required();
  info->add_flag("--json", info_options->json, "print one JSON object instead of text");
  info->callback([&result, streams, info_options] {
    Run(result, streams, info_options->exe, [&] { return Info(*info_options, streams); });
  });

  auto icon_options = std::make_shared<IconOptions>();
  CLI::App* set_icon = pe->add_subcommand("set-icon", "Replace an icon group of EXE with the images of ICO, in place");
  set_icon->add_option("EXE", icon_options->exe, "Windows executable")->required();
  set_icon->add_option("ICO", icon_options->icon, "icon file (.ico)")->required();
  set_icon->add_option("--group", icon_options->group, "the icon group's number")
      ->check(CLI::Range(1, 0xFFFF))
      ->capture_default_str();
  set_icon->callback([&result, streams, icon_options] {
    Run(result, streams, icon_options->exe, [&] { return SetIcon(*icon_options, streams); });
  });

  auto bitmap_options = std::make_shared<BitmapOptions>();
  CLI::App* set_bitmap =
      pe->add_subcommand("set-bitmap", "Write the picture of BMP into EXE as a bitmap resource, in place");
  set_bitmap->add_option("EXE", bitmap_options->exe, "Windows executable")->required();
  set_bitmap->add_option("BMP", bitmap_options->bitmap, "bitmap file (.bmp)")->required();
  set_bitmap->add_option("--id", bitmap_options->id, "the bitmap's number (the startup picture's by default)")
      ->check(CLI::Range(1, 0xFFFF))
      ->capture_default_str();
  set_bitmap->callback([&result, streams, bitmap_options] {
    Run(result, streams, bitmap_options->exe, [&] { return SetBitmap(*bitmap_options, streams); });
  });

  auto blank_exe = std::make_shared<std::string>();
  CLI::App* blank = pe->add_subcommand(
      "blank-version", "Empty EXE's version texts as the build does (FileVersion and the fixed numbers stay)");
  blank->add_option("EXE", *blank_exe, "Windows executable")->required();
  blank->callback([&result, streams, blank_exe] {
    Run(result, streams, *blank_exe, [&] { return BlankVersion(*blank_exe, streams); });
  });
}

}  // namespace cli
