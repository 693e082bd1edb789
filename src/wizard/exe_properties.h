// The EXE properties page: the EXE's name, its icon and the start-up window.
#pragma once

#include <string>
#include <string_view>

#include "wizard/page.h"

namespace wizard {

inline constexpr int kIdExeName = 1171;
inline constexpr int kIdIconPath = 1097;
inline constexpr int kIdIconBrowse = 1074;
inline constexpr int kIdStartupGroup = 1003;
inline constexpr int kIdTipsLabel = 1181;
inline constexpr int kIdAuthorTips = 1094;
inline constexpr int kIdUrlLabel = 1182;
inline constexpr int kIdRelatedUrl = 1095;
inline constexpr int kIdPictureLabel = 1002;
inline constexpr int kIdPicturePath = 1096;
inline constexpr int kIdPictureBrowse = 1073;
inline constexpr int kIdShowStartup = 1341;
inline constexpr int kIdResetVersion = 1342;
// The controls that follow the show-start-up check box's state.
inline constexpr int kStartupControls[] = {kIdTipsLabel,    kIdAuthorTips,  kIdUrlLabel,     kIdRelatedUrl,
                                           kIdPictureLabel, kIdPicturePath, kIdPictureBrowse};

// The page's working copies.
struct ExeProperties {
  std::u16string name;
  std::u16string icon;
  std::u16string tips;
  std::u16string url;
  std::u16string picture;
  bool show_startup = false;
  bool reset_version = false;
};

class ExePropertiesPage {
 public:
  explicit ExePropertiesPage(PageContext& context) : context_(context) {}

  // The working copies from the record.
  ExeProperties Initial() const;

  // The icon and bitmap checks, each showing its own message: true when the file is usable.
  bool CheckIcon(std::u16string_view path) const;
  bool CheckBitmap(std::u16string_view path) const;

  // Validates and, when everything passes, stores into the record.
  LeaveResult LeaveForward(const ExeProperties& values);

 private:
  PageContext& context_;
};

}  // namespace wizard
