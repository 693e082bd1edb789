#include "wizard/exe_properties.h"

#include "app/brankel_app.h"
#include "packager/session.h"
#include "platform/unicode.h"
#include "project/options.h"
#include "wizard/image_checks.h"

namespace wizard {
namespace {

// A path is kept in a 260-unit field: a longer one would be stored cut, naming another
// file than the one just checked.
}  // namespace

ExeProperties ExePropertiesPage::Initial() const {
  const project::MakeExeOptions& record = context_.session.Record();
  ExeProperties values;
  values.show_startup = record.ShowStartup != 0;
  values.name = project::FieldText(record.ExeName);
  values.tips = project::FieldText(record.AuthorTips);
  values.url = project::FieldText(record.RelatedUrl);
  values.icon = project::FieldText(record.IconPath);
  values.picture = project::FieldText(record.PicturePath);
  values.reset_version = record.ResetVersion != 0;
  return values;
}

bool ExePropertiesPage::CheckIcon(std::u16string_view path) const {
  const ImageCheck check = path.size() > kPathChars ? ImageCheck::kMissing : CheckIconFile(path);
  if (check == ImageCheck::kUsable) return true;
  context_.app.MessageBoxByKey(check == ImageCheck::kMissing ? u"IDS_ERR_FINDICONFILE" : u"IDS_ERR_LOADICON",
                               context_.owner, app::kMbIconError);
  return false;
}

bool ExePropertiesPage::CheckBitmap(std::u16string_view path) const {
  const ImageCheck check = path.size() > kPathChars ? ImageCheck::kMissing : CheckBitmapFile(path);
  const char16_t* key = nullptr;
  switch (check) {
    case ImageCheck::kUsable:
      return true;
    case ImageCheck::kMissing:
      key = u"IDS_ERR_FINDBMPFILE";
      break;
    case ImageCheck::kUnloadable:
      key = u"IDS_ERR_LOADBMP";
      break;
    case ImageCheck::kRefused:
      key = u"IDS_ERR_INVALIDBMP";
      break;
  }
  context_.app.MessageBoxByKey(key, context_.owner, app::kMbIconError);
  return false;
}

LeaveResult ExePropertiesPage::LeaveForward(const ExeProperties& values) {
  const std::u16string name = Trimmed(values.name);
  if (name.empty()) {
    context_.app.MessageBoxByKey(u"IDS_ERR_NAMEEMPTY", context_.owner, app::kMbIconError);
    return {false, kIdExeName};
  }
  // Blanks count as tips: the author may want an empty-looking window.
  if (values.show_startup && values.tips.empty()) {
    context_.app.MessageBoxByKey(u"IDS_ERR_AUTHORTIPSEMPTY", context_.owner, app::kMbIconError);
    return {false, kIdAuthorTips};
  }
  const std::u16string picture = Trimmed(values.picture);
  if (!picture.empty() && !CheckBitmap(picture)) return {false, 0};
  const std::u16string icon = Trimmed(values.icon);
  if (!icon.empty() && !CheckIcon(icon)) return {false, 0};

  project::MakeExeOptions& record = context_.session.Record();
  record.ShowStartup = values.show_startup ? 1 : 0;
  record.ResetVersion = values.reset_version ? 1 : 0;
  plat::SetFixedText(record.ExeName, std::size(record.ExeName), name);
  plat::SetFixedText(record.AuthorTips, std::size(record.AuthorTips), values.tips);
  plat::SetFixedText(record.RelatedUrl, std::size(record.RelatedUrl), values.url);
  // The build takes the icon and the picture from the record.
  plat::SetFixedText(record.IconPath, std::size(record.IconPath), icon);
  plat::SetFixedText(record.PicturePath, std::size(record.PicturePath), picture);
  return {};
}

}  // namespace wizard
