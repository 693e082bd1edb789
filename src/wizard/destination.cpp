#include "wizard/destination.h"

#include "analysis/references.h"
#include "app/brankel_app.h"
#include "packager/session.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/options.h"

namespace wizard {
namespace {

constexpr std::u16string_view kExe = u".exe";
bool EndsWithExe(std::u16string_view path) {
  if (path.size() < kExe.size()) return false;
  const std::u16string_view tail = path.substr(path.size() - kExe.size());
  for (size_t i = 0; i < kExe.size(); ++i) {
    if (plat::AsciiLower(tail[i]) != kExe[i]) return false;
  }
  return true;
}

}  // namespace

std::u16string WithExeExtension(std::u16string_view path) {
  std::u16string trimmed = Trimmed(path);
  if (!EndsWithExe(trimmed)) trimmed += kExe;
  return trimmed;
}

std::u16string FolderToOpen(std::u16string_view destination) {
  const size_t slash = destination.rfind(u'\\');
  return slash == std::u16string_view::npos ? std::u16string() : std::u16string(destination.substr(0, slash + 1));
}

DestinationValues DestinationPage::Initial() const {
  const project::MakeExeOptions& record = context_.session.Record();
  return {project::FieldText(record.DestinationPath), record.RunMode < kRunModes ? record.RunMode : 0,
          record.SaveProject != 0};
}

void DestinationPage::Close(const DestinationValues& values) {
  project::MakeExeOptions& record = context_.session.Record();
  plat::SetFixedText(record.DestinationPath, std::size(record.DestinationPath), values.destination);
  record.SaveProject = values.save_project ? 1 : 0;
  record.RunMode = static_cast<uint8_t>(values.run_mode >= 0 && values.run_mode < kRunModes ? values.run_mode : 0);
}

DestinationPage::BuildResult DestinationPage::Build(const DestinationValues& values,
                                                    const packager::RuntimeChoice& runtime, bool write_project) {
  BuildResult result;
  result.destination = values.destination;
  const std::u16string trimmed = Trimmed(values.destination);
  auto refuse = [&](const char16_t* key) {
    context_.app.MessageBoxByKey(key, context_.owner, app::kMbIconError);
    result.focus = kIdDestination;
    return result;
  };
  if (trimmed.empty()) return refuse(u"IDS_ERR_DESTFILENAMEEMPTY");
  const std::u16string destination = WithExeExtension(trimmed);
  result.destination = destination;
  if (!analysis::IsAbsolutePath(destination)) return refuse(u"IDS_ERR_MUSTABSPATH");
  // The path must name a file: "C:\dir\" became "C:\dir\.exe", which has no name, and an
  // existing folder cannot be replaced by the EXE. A path the record cannot hold whole
  // would be written somewhere else.
  if (FileNamePart(destination).size() == kExe.size()) return refuse(u"IDS_ERR_DESTFILENAMEEMPTY");
  if (destination.size() > kPathChars || plat::IsDirectory(destination)) return refuse(u"IDS_ERR_MUSTABSPATH");

  Close({destination, values.run_mode, values.save_project});
  packager::PackagingSession& session = context_.session;
  if (write_project && !session.SaveProject()) {
    result.project_failed = true;
    context_.app.MessageBoxFormat(u"%s", context_.owner, app::kMbIconError, session.Messages().back());
  }
  result.attempted = true;
  outcome_ = packager::BuildSession(session, runtime, progress_);
  result.built = outcome_.built;
  if (outcome_.built) {
    context_.app.MessageBoxByKey(u"IDS_MES_EXEMACROBUILDOK", context_.owner, app::kMbIconInformation,
                                 outcome_.destination);
  }
  return result;
}

}  // namespace wizard
