#include "support/attachment_builder.h"

#include <cstring>

namespace brankel_test {

std::string AttachmentItemBytes(std::u16string_view stream, std::u16string_view extension, uint8_t fill) {
  std::string bytes = macro::AttachmentItemBytes(stream, extension, fill);
  macro::AttachmentItem item;
  std::memcpy(&item, bytes.data(), sizeof item);
  item.Cleared4 = 0xDEADBEEF;
  item.NameHash = 1;
  std::memset(item.Text, fill, sizeof item.Text);
  std::memcpy(bytes.data(), &item, sizeof item);
  return bytes;
}

}  // namespace brankel_test
