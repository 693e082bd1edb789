#include "packager/signing.h"

#include <optional>
#include <vector>

#include "app/system_error.h"
#include "pe/certificate_table.h"
#include "pe/pe_image.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace packager {
namespace {

std::u16string FolderOf(std::u16string_view path) {
  const size_t slash = path.find_last_of(u'\\');
  return slash == std::u16string_view::npos ? std::u16string(u".") : std::u16string(path.substr(0, slash));
}

// The program's own lines, without the blank ones, for a message that says why.
std::u16string ProgramLines(const std::string& output) {
  std::u16string lines;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) lines += (lines.empty() ? u"" : u"\r\n") + plat::Utf8ToUtf16(line);
    start = end + 1;
  }
  return lines;
}

// The signed file must be a PE image that carries a certificate table, with the checksum
// over all of it; the table and the checksum field are outside the signed hash, so the
// fix leaves the signature valid.
bool CheckSignedFile(std::u16string_view path, std::u16string* why) {
  const std::optional<std::string> bytes = plat::ReadWholeFile(path);
  if (!bytes) {
    *why = app::SystemErrorText(plat::GetLastError(), path);
    return false;
  }
  const plat::ByteView file(*bytes);
  std::string refusal;
  if (!pe::ReadCertificateTable(file, &refusal)) {
    *why = std::u16string(path) + u"\r\n" +
           plat::Utf8ToUtf16(refusal.empty() ? "the signed EXE has no certificate table" : refusal);
    return false;
  }
  const size_t checksum_at = static_cast<size_t>(file.U32Or(pe::pe::kLfanewOffset, 0)) + pe::pe::kCheckSum;
  if (file.U32Or(checksum_at, 0) == pe::PeChecksum(file.data(), file.size(), checksum_at)) return true;
  if (pe::CPE_ImageEditor::FixChecksum(path)) return true;
  *why = app::SystemErrorText(plat::GetLastError(), path);
  return false;
}

}  // namespace

bool SignExe(std::u16string_view path, const SigningChoice& signing, std::u16string* why) {
  why->clear();
  // The program will not write over a file, so the name is freed again for it.
  const std::u16string signed_path = plat::GetTempFileName(FolderOf(path), u"~Ms");
  if (signed_path.empty()) {
    *why = app::SystemErrorText(plat::GetLastError(), path);
    return false;
  }
  plat::DeleteFile(signed_path);
  auto fail = [&](std::u16string text) {
    plat::DeleteFile(signed_path);
    *why = std::move(text);
    return false;
  };

  const std::u16string pkcs12 = plat::PathForProgram(signing.pkcs12);
  const std::u16string in = plat::PathForProgram(path);
  const std::u16string out = plat::PathForProgram(signed_path);
  if (!plat::FileExists(signing.pkcs12) || plat::IsDirectory(signing.pkcs12) || pkcs12.empty()) {
    return fail(signing.pkcs12 + u"\r\nThe PKCS#12 file to sign with is not there.");
  }
  if (in.empty() || out.empty()) return fail(app::SystemErrorText(plat::GetLastError(), path));
  const std::vector<std::u16string> arguments = {u"sign",   u"-pkcs12", pkcs12, u"-readpass", u"-", u"-h",
                                                 u"sha256", u"-in",     in,     u"-out",      out};
  plat::ProgramRun run;
  if (!plat::RunProgram(kSigningProgram, arguments, signing.password + "\n", &run)) {
    const uint32_t error = plat::GetLastError();
    if (error == plat::err::kFileNotFound || error == plat::err::kPathNotFound) {
      return fail(
          u"The program osslsigncode, which signs the EXE, is not installed (it is the Debian package "
          u"\"osslsigncode\").");
    }
    return fail(u"osslsigncode could not be started.\r\n" + app::SystemErrorText(error, {}));
  }
  if (run.exit_code != 0 || !plat::FileExists(signed_path)) {
    std::u16string text = u"osslsigncode could not sign the EXE with " + signing.pkcs12 +
                          u" (a wrong password or a damaged PKCS#12 file?).";
    const std::u16string lines = ProgramLines(run.output);
    if (!lines.empty()) text += u"\r\n" + lines;
    return fail(text);
  }
  std::u16string checked;
  if (!CheckSignedFile(signed_path, &checked)) return fail(checked);
  if (!plat::MoveFile(signed_path, path, true)) return fail(app::SystemErrorText(plat::GetLastError(), path));
  return true;
}

}  // namespace packager
