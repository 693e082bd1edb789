#include "pe/resource_edits.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "pe/pe_resources.h"
#include "pe/version_info.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/platform.h"

namespace pe {
namespace {

uint64_t Align8(uint64_t value) { return (value + 7) & ~uint64_t{7}; }

// Both files are read whole into a zero-filled block raised to a multiple of 8 bytes.
enum class ReadStatus { kOk, kOpen, kMemory, kRead };
ReadStatus ReadPadded(std::u16string_view path, uint32_t share, std::vector<uint8_t>& block, size_t& length) {
  plat::FileHandle file = plat::OpenFile(path, plat::kGenericRead, share, plat::Disposition::kOpenExisting);
  if (file == nullptr) return ReadStatus::kOpen;
  uint64_t size = 0;
  if (!plat::GetFileSize(file, &size)) {
    plat::CloseFile(file);
    return ReadStatus::kRead;
  }
  if (size > 0x7FFFFFF0u) {
    plat::CloseFile(file);
    plat::SetLastError(plat::err::kNotEnoughMemory);
    return ReadStatus::kMemory;
  }
  try {
    block.assign(static_cast<size_t>(Align8(size)), 0);
  } catch (const std::bad_alloc&) {
    plat::CloseFile(file);
    plat::SetLastError(plat::err::kNotEnoughMemory);
    return ReadStatus::kMemory;
  }
  const bool read = plat::ReadExact(file, block.data(), static_cast<size_t>(size));
  const uint32_t error = plat::GetLastError();
  plat::CloseFile(file);
  if (!read) {
    plat::SetLastError(error == plat::err::kSuccess ? plat::err::kHandleEof : error);
    return ReadStatus::kRead;
  }
  length = static_cast<size_t>(size);
  return ReadStatus::kOk;
}

// A refused edit: the update is dropped, the system error and the reason are left.
bool Refuse(ResourceUpdate& update, std::string* reason, std::string why, uint32_t error) {
  update.Discard();
  if (reason != nullptr) *reason = std::move(why);
  plat::SetLastError(error);
  return false;
}
// An edit the update itself refused, with the update's reason.
bool Refused(const ResourceUpdate& update, std::string* reason) {
  if (reason != nullptr) *reason = update.RefusalText();
  return false;
}

constexpr char kNotAnIcon[] = "the icon data is not an icon directory whose images lie inside it";

}  // namespace

EditOutcome ReplaceStartupPicture(std::u16string_view exe, std::u16string_view bitmap, uint16_t id) {
  std::vector<uint8_t> block;
  size_t length = 0;
  switch (ReadPadded(bitmap, plat::kShareRead | plat::kShareWrite, block, length)) {
    case ReadStatus::kOk:
      break;
    case ReadStatus::kOpen:
      return {"IDS_ERR_OPENFILE", std::u16string(bitmap), {}};
    case ReadStatus::kMemory:
      return {"IDS_ERR_NOTENOUGHMEM", {}, {}};
    case ReadStatus::kRead:
      return {"IDS_ERR_READFILE", std::u16string(bitmap), {}};
  }
  // A file no longer than its file header holds no picture to write.
  if (length <= kBitmapFileHeaderSize) {
    plat::SetLastError(plat::err::kInvalidData);
    return {"IDS_ERR_READFILE", std::u16string(bitmap), "the bitmap file holds nothing after its file header"};
  }
  ResourceUpdate update;
  const bool ok = update.Begin(exe) &&
                  update.Update(res::kTypeBitmap, id, res::kLanguageNeutral, block.data() + kBitmapFileHeaderSize,
                                static_cast<uint32_t>(length - kBitmapFileHeaderSize)) &&
                  update.Commit();
  if (!ok) {
    const EditOutcome outcome{"IDS_ERR_EXEMACRO_DEALPLAYER", {}, update.RefusalText()};
    update.Discard();
    return outcome;
  }
  return {};
}

std::optional<std::vector<IconImage>> IconImages(const uint8_t* data, size_t length) {
  if (data == nullptr || length < kIconDirectorySize) return std::nullopt;
  const plat::ByteView file(data, length);
  if (file.U16Or(0, 0) != 0 || file.U16Or(2, 0) != 1) return std::nullopt;
  const uint32_t count = file.U16Or(4, 0);
  if (count == 0 || count > kMaxIconImages) return std::nullopt;
  if (kIconDirectorySize + uint64_t{count} * kIconFileEntrySize > length) return std::nullopt;
  std::vector<IconImage> images;
  images.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    IconImage image;
    const size_t entry = kIconDirectorySize + size_t{i} * kIconFileEntrySize;
    image.entry = data + entry;
    image.size = file.U32Or(entry + 8, 0);
    image.offset = file.U32Or(entry + 12, 0);
    // An empty image would delete the icon it is written to instead of writing it.
    if (image.size == 0 || uint64_t{image.offset} + image.size > length) return std::nullopt;
    images.push_back(image);
  }
  return images;
}

std::optional<IconData> ReadIconFile(std::u16string_view path) {
  IconData icon;
  if (ReadPadded(path, plat::kShareWrite, icon.block, icon.length) != ReadStatus::kOk) return std::nullopt;
  if (icon.length == 0 || !IconImages(icon.Data(), icon.length)) {
    plat::SetLastError(plat::err::kInvalidData);
    return std::nullopt;
  }
  return icon;
}

bool ReplaceIconGroup(std::u16string_view exe, uint16_t group, const IconData& icon, std::string* reason) {
  ResourceUpdate update;
  const std::optional<std::vector<IconImage>> images =
      IconImages(icon.Data(), std::min(icon.length, icon.block.size()));
  if (!images) return Refuse(update, reason, kNotAnIcon, plat::err::kInvalidData);
  if (!update.Begin(exe)) return Refused(update, reason);
  const ResourceTable& table = update.Table();

  std::vector<uint16_t> old_ids;
  if (const ResourceItem* old_group = table.Find(res::kTypeGroupIcon, group, res::kLanguageNeutral)) {
    const std::vector<uint8_t>& data = old_group->data;
    const plat::ByteView view(data);
    const uint32_t count = data.size() >= kIconDirectorySize ? view.U16Or(4, 0) : 0;
    if (data.size() < kIconDirectorySize || count > kMaxIconImages ||
        data.size() < kIconDirectorySize + size_t{count} * kIconGroupEntrySize) {
      return Refuse(update, reason, "the executable's icon group is damaged or has too many images",
                    plat::err::kInvalidData);
    }
    for (uint32_t i = 0; i < count; ++i)
      old_ids.push_back(view.U16Or(kIconDirectorySize + i * kIconGroupEntrySize + 12, 0));
  }

  // Identifiers for the new images: the old ones in order, then free ones found upwards.
  std::vector<uint16_t> ids;
  uint32_t previous = 0;
  for (size_t i = 0; i < images->size(); ++i) {
    uint32_t chosen = 0;
    // A damaged group naming one identifier twice must not make two images share it.
    if (i < old_ids.size() && std::find(ids.begin(), ids.end(), old_ids[i]) == ids.end()) {
      chosen = old_ids[i];
    } else {
      uint32_t probe = previous + 1;
      while (probe <= 0xFFFF && (table.Find(res::kTypeIcon, static_cast<uint16_t>(probe), res::kLanguageNeutral) ||
                                 std::find(ids.begin(), ids.end(), probe) != ids.end())) {
        ++probe;
      }
      if (probe > 0xFFFF) {
        return Refuse(update, reason, "no free icon identifier is left", plat::err::kInvalidData);
      }
      chosen = probe;
    }
    ids.push_back(static_cast<uint16_t>(chosen));
    previous = chosen;
  }

  for (uint16_t id : old_ids) update.Update(res::kTypeIcon, id, res::kLanguageNeutral, nullptr, 0);

  std::vector<uint8_t> directory(kIconDirectorySize + images->size() * kIconGroupEntrySize, 0);
  const plat::MutableByteView out(directory);
  out.CopyFrom(0, plat::ByteView(icon.Data(), kIconDirectorySize));
  for (size_t i = 0; i < images->size(); ++i) {
    const size_t entry = kIconDirectorySize + i * kIconGroupEntrySize;
    out.CopyFrom(entry, plat::ByteView((*images)[i].entry, 12));
    out.Put16(entry + 12, ids[i]);
  }
  bool ok = update.Update(res::kTypeGroupIcon, group, res::kLanguageNeutral, directory.data(),
                          static_cast<uint32_t>(directory.size()));
  for (size_t i = 0; ok && i < images->size(); ++i) {
    const IconImage& image = (*images)[i];
    ok = update.Update(res::kTypeIcon, ids[i], res::kLanguageNeutral, icon.Data() + image.offset, image.size);
  }
  if (!ok || !update.Commit()) {
    Refused(update, reason);
    update.Discard();
    return false;
  }
  return true;
}

bool BlankVersionStrings(std::u16string_view exe, std::string* reason) {
  ResourceUpdate update;
  if (!update.Begin(exe)) return Refused(update, reason);
  const ResourceItem* version = update.Table().Find(res::kTypeVersion, 1, res::kLanguageNeutral);
  if (version == nullptr || version->data.size() < 2) {
    return Refuse(update, reason, "the executable has no version resource", plat::err::kResourceTypeNotFound);
  }
  std::vector<uint8_t> block(
      version->data.begin(),
      version->data.begin() + std::min<size_t>(plat::ByteView(version->data).U16Or(0, 0), version->data.size()));

  const std::optional<VersionValue> translation =
      QueryVersionValue(block.data(), block.size(), u"\\VarFileInfo\\Translation");
  if (!translation || translation->size < 4) {
    return Refuse(update, reason, "the version resource has no translation to find its texts by",
                  plat::err::kResourceNameNotFound);
  }
  const plat::ByteView view(block);
  const uint16_t language = view.U16Or(translation->offset, 0);
  const uint16_t code_page = view.U16Or(translation->offset + 2, 0);
  static constexpr char16_t kHex[] = u"0123456789abcdef";
  std::u16string table = u"\\StringFileInfo\\";
  for (uint16_t part : {language, code_page}) {
    for (int shift = 12; shift >= 0; shift -= 4) table += kHex[(part >> shift) & 0xF];
  }
  for (const char16_t* name : kBlankedVersionValues) {
    if (const std::optional<VersionValue> value = QueryVersionValue(block.data(), block.size(), table + u"\\" + name)) {
      if (std::optional<plat::MutableByteView> blanked = plat::MutableByteView(block).Sub(value->offset, value->size)) {
        std::fill(blanked->data(), blanked->data() + blanked->size(), uint8_t{0});
      }
    }
  }
  // As with the system's service, a write that fails is not reported.
  const bool written =
      update.Update(res::kTypeVersion, 1, res::kLanguageNeutral, block.data(), static_cast<uint32_t>(block.size())) &&
      update.Commit();  // sets the last error either way
  if (!written) Refused(update, reason);
  return true;
}

}  // namespace pe
