#include "support/attachment_builder.h"

#include <cstring>

#include "platform/unicode.h"

namespace brankel_test {

std::string AttachmentItemBytes(std::u16string_view stream, std::u16string_view extension, uint8_t fill) {
  macro::AttachmentItem item;
  std::memset(&item, fill, sizeof item);
  item.Cleared4 = 0xDEADBEEF;
  item.NameHash = 1;
  plat::SetFixedText(item.Extension, 32, extension);
  plat::SetFixedText(item.StreamName, 650, stream);
  return std::string(reinterpret_cast<const char*>(&item), sizeof item);
}

std::string AttachmentArea(const std::vector<std::string>& items, const std::vector<uint8_t>& compound,
                           uint32_t magic) {
  std::string table;
  for (const std::string& item : items) table += item;
  const uint32_t head[5] = {magic, 256, static_cast<uint32_t>(items.size()),
                            static_cast<uint32_t>(table.size() + compound.size()), static_cast<uint32_t>(table.size())};
  return std::string(reinterpret_cast<const char*>(head), sizeof head) + table +
         std::string(compound.begin(), compound.end());
}

std::string WithAttachmentsFlag(std::string macro) {
  if (macro.size() > 10) macro[10] = static_cast<char>(macro[10] | macro::kFileFlagAttachments);
  return macro;
}

}  // namespace brankel_test
