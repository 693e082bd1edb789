// The three resource edits a build applies to the executables it makes: the startup
// picture, the icon group and emptied version texts. Everything is written in the
// neutral language; a failed edit leaves the executable exactly as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pe {

inline constexpr uint16_t kStartupPictureId = 352;
inline constexpr uint16_t kPlayerIconGroup = 101;
inline constexpr uint16_t kExeIconGroup = 107;
// Icon files and existing icon groups beyond this many images are refused.
inline constexpr uint32_t kMaxIconImages = 260;
inline constexpr uint32_t kBitmapFileHeaderSize = 14;
inline constexpr uint32_t kIconDirectorySize = 6;
inline constexpr uint32_t kIconFileEntrySize = 16;
inline constexpr uint32_t kIconGroupEntrySize = 14;

// A message key with its one text argument; no key means success. `reason` says why in
// one English sentence when the system error alone does not (empty otherwise).
struct EditOutcome {
  const char* key = nullptr;
  std::u16string argument;
  std::string reason;
  bool Succeeded() const { return key == nullptr; }
};

// Writes the bitmap file's contents after its 14-byte file header as bitmap `id`.
// Failures: "IDS_ERR_OPENFILE" or "IDS_ERR_READFILE" with the bitmap path,
// "IDS_ERR_NOTENOUGHMEM", "IDS_ERR_EXEMACRO_DEALPLAYER" (no argument: the caller adds
// its own message text).
EditOutcome ReplaceStartupPicture(std::u16string_view exe, std::u16string_view bitmap, uint16_t id = kStartupPictureId);

// A whole icon file, zero-filled up to a multiple of 8 bytes.
struct IconData {
  std::vector<uint8_t> block;
  size_t length = 0;  // the file's own size

  const uint8_t* Data() const { return block.data(); }
};

// One image of an icon file, checked to lie inside it.
struct IconImage {
  const uint8_t* entry = nullptr;  // the 16-byte directory entry
  uint32_t offset = 0;
  uint32_t size = 0;
};
// The images of an icon file; nullopt unless it is an icon directory (reserved 0, type 1)
// of 1 to kMaxIconImages images whose data all lie inside the file.
std::optional<std::vector<IconImage>> IconImages(const uint8_t* data, size_t length);

// Reads an icon file; nullopt (with the system's last error set) when it cannot be read,
// is empty or is not an icon file.
std::optional<IconData> ReadIconFile(std::u16string_view path);

// Replaces icon group `group` with the images of `icon`, reusing the group's old icon
// identifiers in order and taking free ones above them for further images. A failure
// stores in `reason` (when given) why, as EditOutcome::reason does.
bool ReplaceIconGroup(std::u16string_view exe, uint16_t group, const IconData& icon, std::string* reason = nullptr);

// Empties the listed version texts in place (FileVersion and the fixed information stay).
// False when the executable cannot be loaded, or has no version resource or no
// translation to find the texts by; those leave it unchanged. As a build does not stop
// for it, a failed write still returns true; the last error then says why (it is
// kSuccess when the block was written). `reason` is as for ReplaceIconGroup.
bool BlankVersionStrings(std::u16string_view exe, std::string* reason = nullptr);

// The texts BlankVersionStrings empties, in order.
inline constexpr const char16_t* kBlankedVersionValues[] = {
    u"Comments",         u"FileDescription", u"CompanyName",    u"InternalName", u"LegalCopyright", u"LegalTrademarks",
    u"OriginalFilename", u"ProductName",     u"ProductVersion", u"PrivateBuild", u"SpecialBuild"};

}  // namespace pe
