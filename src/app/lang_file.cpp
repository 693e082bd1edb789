#include "app/lang_file.h"

#include <optional>

#include "app/res_string.h"
#include "app/text_format.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace app {
namespace {

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

bool IsSectionLine(std::u16string_view line, std::u16string_view name) {
  line = Trim(line);
  return line.size() == name.size() + 2 && line.front() == u'[' && line.back() == u']' &&
         plat::EqualNoCase(line.substr(1, name.size()), name);
}

std::string Encode(std::u16string_view text, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf16Le:
      return "\xFF\xFE" + plat::ToUtf16Le(text);
    case TextEncoding::kUtf8Bom:
      return "\xEF\xBB\xBF" + plat::Utf16ToUtf8(text);
    case TextEncoding::kUtf8:
      return plat::Utf16ToUtf8(text);
    case TextEncoding::kAnsi:
      return plat::WideToAnsi(text);
  }
  return {};
}

std::u16string ReadHeaderCrc(std::u16string_view path) {
  char16_t buffer[261];
  // A stored "default" reads as no value, as every configuration read does.
  plat::GetPrivateProfileString(u"Header", u"CRC", u"default", buffer, 260, path);
  const std::u16string crc = buffer;
  return crc == u"default" ? std::u16string() : crc;
}

}  // namespace

LanguageFileCheck CheckLanguageFile(std::u16string_view path) {
  LanguageFileCheck check;
  CVLResString table;
  check.loaded = table.LoadFile(path);
  if (!check.loaded) return check;
  check.keys = table.EntryCount();
  check.crc = ReadHeaderCrc(path);
  check.expected = table.ComputeCrc();
  check.crc_ok = table.CheckCrc(check.crc);
  return check;
}

std::u16string SetHeaderCrc(std::u16string_view text, std::u16string_view crc) {
  // The header is every line before the string section; only lines there are touched, so
  // the section (and with it the check value) stays as it was.
  const std::u16string newline = text.find(u"\r\n") != std::u16string_view::npos ? u"\r\n" : u"\n";
  size_t header_line_end = std::u16string_view::npos;  // after the [Header] line
  bool in_header = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(u"\r\n", pos);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view line = text.substr(pos, end - pos);
    size_t next = end;
    if (next < text.size() && text[next] == u'\r') ++next;
    if (next < text.size() && text[next] == u'\n') ++next;
    const std::u16string_view trimmed = Trim(line);
    std::u16string_view leading = line;
    while (!leading.empty() && (leading.front() == u' ' || leading.front() == u'\t')) leading.remove_prefix(1);
    if (!leading.empty() && OpensStringSection(leading)) break;
    if (!trimmed.empty() && trimmed.front() == u'[') {
      in_header = IsSectionLine(trimmed, u"Header");
      if (in_header) header_line_end = next;
    } else if (in_header) {
      const size_t equals = trimmed.find(u'=');
      if (equals != std::u16string_view::npos && plat::EqualNoCase(Trim(trimmed.substr(0, equals)), u"CRC")) {
        const size_t value_start = pos + (line.find(u'=') + 1);
        return std::u16string(text.substr(0, value_start)) + std::u16string(crc) + std::u16string(text.substr(end));
      }
    }
    pos = next;
  }
  if (header_line_end != std::u16string_view::npos) {
    std::u16string out(text.substr(0, header_line_end));
    if (header_line_end == text.size() || (header_line_end > 0 && text[header_line_end - 1] != u'\n')) out += newline;
    return out + u"CRC=" + std::u16string(crc) + newline + std::u16string(text.substr(header_line_end));
  }
  // A new section goes below an empty first line, which a byte-order mark may share.
  return newline + u"[Header]" + newline + u"CRC=" + std::u16string(crc) + newline + std::u16string(text);
}

bool SignLanguageFile(std::u16string_view path, std::u16string* message) {
  const auto fail = [&](std::u16string text) {
    if (message != nullptr) *message = std::move(text);
    return false;
  };
  const std::optional<std::string> bytes = plat::ReadWholeFile(path);
  if (!bytes) return fail(FormatText(u"cannot read %s", {path}));
  if (bytes->empty()) return fail(FormatText(u"%s is empty", {path}));
  TextEncoding encoding;
  const std::u16string text = DecodeLanguageText(*bytes, &encoding);
  CVLResString table;
  table.LoadText(*bytes);
  const std::u16string signed_text = SetHeaderCrc(text, table.ComputeCrc());
  const std::string out = Encode(signed_text, encoding);
  if (DecodeLanguageText(out) != signed_text) {
    return fail(FormatText(u"%s cannot be written back in its own encoding without changing its text", {path}));
  }
  // Write beside the file first, so that a failure never leaves it half written.
  std::u16string folder(
      path.substr(0, path.find_last_of(u"\\/") == std::u16string_view::npos ? 0 : path.find_last_of(u"\\/")));
  if (folder.empty()) folder = u".";
  const std::u16string temporary = plat::GetTempFileName(folder, u"lng");
  if (temporary.empty()) return fail(FormatText(u"cannot create a temporary file in %s", {folder}));
  const bool ok = plat::WriteWholeFile(temporary, out) && plat::CopyFile(temporary, path, false);
  plat::DeleteFile(temporary);
  if (!ok) return fail(FormatText(u"cannot write %s", {path}));
  const LanguageFileCheck check = CheckLanguageFile(path);
  if (!check.crc_ok) return fail(FormatText(u"%s does not verify after signing", {path}));
  return true;
}

}  // namespace app
