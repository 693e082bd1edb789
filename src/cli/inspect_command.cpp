#include "cli/inspect_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/messages.h"
#include "cli/report.h"
#include "packager/payload.h"
#include "pe/certificate_table.h"
#include "pe/pe_image.h"
#include "pe/signed_data.h"
#include "pe/version_info.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/options.h"

namespace cli {
namespace {

using nlohmann::ordered_json;

struct InspectOptions {
  std::string exe;
  bool json = false;
  std::string extract;
};

// What a run found wrong, in the order it found it.
struct Failures {
  ordered_json list = ordered_json::array();
  void Add(const std::string& text) { list.push_back(text); }
};

std::string Utf8(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

std::string RecordName(size_t index, const std::u16string& name) {
  return "record " + std::to_string(index) + " (\"" + Utf8(name) + "\")";
}

// The option fields of the player that say how the built program behaves, read at their
// places in payload A (the options record without its first 16 bytes).
ordered_json DescribePlayerOptions(plat::ByteView options) {
  constexpr size_t kShift = project::kPlayerOptionsOffset;
  auto text = [&](size_t record_offset, size_t units) { return Utf8(options.Utf16z(record_offset - kShift, units)); };
  ordered_json out;
  out["log_level"] = options.U8Or(offsetof(project::MakeExeOptions, LogLevel) - kShift, 0);
  out["play_times"] = options.U16Or(offsetof(project::MakeExeOptions, PlayTimes) - kShift, 0);
  out["exe_name"] = text(offsetof(project::MakeExeOptions, ExeName), 130);
  out["related_url"] = text(offsetof(project::MakeExeOptions, RelatedUrl), 130);
  out["author_tips"] = text(offsetof(project::MakeExeOptions, AuthorTips), 260);
  return out;
}

// The player copy's own payload, or null when it cannot be read (with the reason among
// the failures).
ordered_json DescribePlayerCopy(const packager::PayloadB& payload, Failures& failures) {
  std::optional<size_t> player;
  for (size_t i = 0; i < payload.records.size(); ++i) {
    if (payload.records[i].kind != packager::kFileKindPlayer) continue;
    if (player) {
      failures.Add(RecordName(i, payload.records[i].target_name) + " is a second player copy, after record " +
                   std::to_string(*player));
    } else {
      player = i;
    }
  }
  if (!player) {
    failures.Add("no player copy (a record of kind 2) among the " + std::to_string(payload.records.size()) +
                 " records");
    return nullptr;
  }
  const packager::PayloadBRecord& record = payload.records[*player];
  const std::string name = RecordName(*player, record.target_name) + ", the player copy,";
  pe::CPE_ImageEditor image;
  if (!image.Parse(record.data.data(), record.data.size())) {
    failures.Add(name + " is no executable image: " + image.RefusalText());
    return nullptr;
  }
  const std::optional<plat::ByteView> section = packager::PayloadSection(image);
  if (!section) {
    failures.Add(name + " has no \".mdata\" section");
    return nullptr;
  }
  std::string refusal;
  const std::optional<packager::PayloadA> a = packager::ReadPayloadA(*section, &refusal);
  if (!a) {
    failures.Add(name + " " + refusal);
    return nullptr;
  }
  ordered_json out;
  out["count"] = a->macro_count;
  out["script_name"] = Utf8(a->script_name);
  out["options"] = DescribePlayerOptions(a->options);
  ordered_json records = ordered_json::array();
  for (const packager::PayloadARecord& r : a->records) {
    records.push_back({{"type", r.type}, {"name", Utf8(r.name)}, {"size", r.size}});
  }
  out["records"] = records;
  return out;
}

// Whether Windows takes the name part for a device ("NUL", "com1.txt"): writing there
// would not make a file at all.
bool IsDeviceName(std::u16string_view part) {
  std::u16string base = plat::ToUpper(part.substr(0, part.find(u'.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL"}) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) && base[3] >= u'1' &&
         base[3] <= u'9';
}

// Why a target name may not be written under the extraction folder, or null when it may:
// it must stay inside, whatever the system makes of its parts.
const char* UnsafeTarget(std::u16string_view name) {
  if (name.empty()) return "it is empty";
  if (name.front() == u'\\' || name.front() == u'/') return "it is absolute";
  if (name.find(u':') != std::u16string_view::npos) return "it holds a drive or a colon";
  for (const char16_t c : name) {
    if (c < 0x20 || std::u16string_view(u"<>\"|?*").find(c) != std::u16string_view::npos) {
      return "it holds a character no file name may hold";
    }
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of(u"\\/", start);
    if (end == std::u16string_view::npos) end = name.size();
    const std::u16string_view part = name.substr(start, end - start);
    // Windows drops trailing dots and blanks from a name, so ". ." or "..." is ".." to it.
    if (!part.empty() && part.find_first_not_of(u". ") == std::u16string_view::npos) return "it has a \"..\" part";
    if (IsDeviceName(part)) return "it names a device";
    start = end + 1;
  }
  return nullptr;
}

bool MakeFolder(const std::u16string& path) { return plat::CreateDirectory(path) || plat::IsDirectory(path); }

// Writes the file under `folder` by its target name, making the folders on the way.
bool ExtractFile(const std::u16string& folder, const std::u16string& target, plat::ByteView data, std::string* why) {
  std::u16string path = folder;
  size_t start = 0;
  for (size_t end; (end = target.find_first_of(u"\\/", start)) != std::u16string::npos; start = end + 1) {
    if (end == start) continue;
    path += u'\\';
    path += target.substr(start, end - start);
    if (!MakeFolder(path)) {
      *why = "the folder " + Utf8(path) +
             " could not be made: " + Utf8(ConsoleLines(SystemText(plat::GetLastError(), {})));
      return false;
    }
  }
  path += u'\\';
  path += target.substr(start);
  const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  if (!plat::WriteWholeFile(path, bytes)) {
    *why = Utf8(path) + " could not be written: " + Utf8(ConsoleLines(SystemText(plat::GetLastError(), {})));
    return false;
  }
  return true;
}

ordered_json Extract(const packager::PayloadB& payload, const std::string& dir, Failures& failures) {
  ordered_json written = ordered_json::array();
  const std::u16string folder = plat::PathFromHost(dir);
  if (!MakeFolder(folder)) {
    failures.Add("the folder " + dir +
                 " could not be made: " + Utf8(ConsoleLines(SystemText(plat::GetLastError(), dir))));
    return written;
  }
  for (size_t i = 0; i < payload.records.size(); ++i) {
    const packager::PayloadBRecord& record = payload.records[i];
    if (const char* unsafe = UnsafeTarget(record.target_name)) {
      failures.Add(RecordName(i, record.target_name) + " is not extracted: " + unsafe);
      continue;
    }
    std::string why;
    if (!ExtractFile(folder, record.target_name, record.data, &why)) {
      failures.Add(RecordName(i, record.target_name) + " is not extracted: " + why);
      continue;
    }
    written.push_back(Utf8(record.target_name));
  }
  return written;
}

ordered_json DescribePayloadB(const packager::PayloadB& payload, Failures& failures) {
  ordered_json out;
  out["count"] = payload.records.size();
  out["total_size"] = payload.total_size;
  out["first_record"] = payload.first_record;
  out["language_file_size"] = payload.language_file.size();
  out["run_mode"] = payload.run_mode;
  out["web_installer"] = payload.web_installer;
  out["exe_name"] = Utf8(payload.exe_name);
  ordered_json records = ordered_json::array();
  for (size_t i = 0; i < payload.records.size(); ++i) {
    const packager::PayloadBRecord& record = payload.records[i];
    ordered_json md5_ok = nullptr;
    if (plat::kHasMd5) {
      const packager::Md5Digest digest = plat::Md5(record.padded.data(), record.padded.size());
      md5_ok = digest == record.digest;
      if (digest != record.digest) {
        failures.Add(RecordName(i, record.target_name) + ": the MD5 digest does not match its " +
                     std::to_string(record.size) + " bytes");
      }
    }
    records.push_back(
        {{"kind", record.kind}, {"target", Utf8(record.target_name)}, {"size", record.size}, {"md5_ok", md5_ok}});
  }
  out["records"] = records;
  return out;
}

// The Authenticode signature's container, as far as it can be told without checking it.
ordered_json DescribeSignature(const pe::CPE_ImageEditor& image, Failures& failures) {
  std::string refusal;
  const std::optional<pe::CertificateTable> table =
      pe::ReadCertificateTable(plat::ByteView(image.Image(), image.ImageSize()), &refusal);
  if (!table) {
    if (!refusal.empty()) failures.Add(refusal);
    return {{"signed", false}};
  }
  char revision[8];
  std::snprintf(revision, sizeof revision, "0x%04X", table->revision);
  const bool pkcs7 = table->revision == pe::kCertificateRevision2 && table->type == pe::kCertificateTypePkcs7;
  if (!pkcs7) failures.Add("the certificate table holds no PKCS#7 signed data");
  ordered_json out = {{"signed", pkcs7},           {"table_offset", table->offset},
                      {"table_size", table->size}, {"certificate_length", table->length},
                      {"revision", revision},      {"type", table->type}};
  out["signer"] = nullptr;
  if (pkcs7) {
    if (const std::optional<pe::SignerName> signer = pe::ReadSignerName(table->certificate, &refusal)) {
      out["signer"] = {{"subject", signer->subject}, {"issuer", signer->issuer}, {"serial", signer->serial}};
    } else {
      failures.Add("the signer cannot be read: " + refusal);
    }
  }
  return out;
}

int Inspect(const InspectOptions& options, const Streams& io) {
  const std::u16string path = plat::PathFromHost(options.exe);
  Failures failures;
  ordered_json report;
  report["file"] = Utf8(path);
  report["payload_b"] = nullptr;
  report["payload_a"] = nullptr;
  report["signature"] = nullptr;

  pe::CPE_ImageEditor image;
  plat::SetLastError(plat::err::kSuccess);
  if (!image.Load(path)) {
    const uint32_t error = plat::GetLastError();
    std::string why = image.Refusal() != pe::PeRefusal::kNone ? image.RefusalText()
                                                              : Utf8(ConsoleLines(SystemText(error, options.exe)));
    failures.Add("the file cannot be read as an executable: " + why);
  } else {
    report["signature"] = DescribeSignature(image, failures);
    // The runtime it was built with: the stub's version resource, which a build keeps whole.
    const std::optional<pe::FixedVersion> runtime = pe::ImageFixedVersion(image);
    report["runtime_version"] = runtime ? ordered_json(pe::DottedVersion(runtime->file_ms, runtime->file_ls)) : nullptr;
    std::string refusal;
    const std::optional<plat::ByteView> section = packager::PayloadSection(image);
    const std::optional<packager::PayloadB> payload =
        section ? packager::ReadPayloadB(*section, &refusal) : std::optional<packager::PayloadB>();
    if (!section) {
      failures.Add("the executable has no \".mdata\" section");
    } else if (!payload) {
      failures.Add(refusal);
    } else {
      report["payload_b"] = DescribePayloadB(*payload, failures);
      report["payload_a"] = DescribePlayerCopy(*payload, failures);
      if (!options.extract.empty()) report["extracted"] = Extract(*payload, options.extract, failures);
    }
  }
  report["failures"] = failures.list;
  PrintReport(io.out, report, options.json);
  for (const auto& failure : failures.list) {
    std::fprintf(io.err, "brankel: %s: %s\n", options.exe.c_str(), failure.get<std::string>().c_str());
  }
  return failures.list.empty() ? 0 : 1;
}

}  // namespace

void AddInspectCommand(CLI::App& app, const Streams& streams, int& result) {
  auto options = std::make_shared<InspectOptions>();
  CLI::App* inspect = app.add_subcommand(
      "inspect", "Check a built EXE's packed files and list its player copy's options and macro files");
  inspect->add_option("EXE", options->exe, "the built Windows executable")->required();
  inspect->add_flag("--json", options->json, "print one JSON object instead of text");
  inspect->add_option("--extract", options->extract, "write every packed file under DIR by its target name")
      ->type_name("DIR");
  inspect->callback([&result, streams, options] {
    try {
      result = Inspect(*options, streams);
    } catch (const std::exception& error) {
      // Only memory can run out here; the command fails rather than the program.
      std::fprintf(streams.err, "brankel: %s: %s\n", options->exe.c_str(), error.what());
      result = 1;
    }
  });
}

}  // namespace cli
