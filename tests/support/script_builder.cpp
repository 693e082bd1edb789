#include "support/script_builder.h"

#include <gtest/gtest.h>

#include "support/attachment_builder.h"
#include "support/compound_builder.h"

namespace brankel_test {

std::vector<uint8_t> CallPayload(uint16_t code, uint8_t kind, std::u16string_view name) {
  return macro::CallPayload(code, kind, name, kFiller);
}

std::vector<uint8_t> TextAt(size_t offset, std::u16string_view text) { return macro::TextAt(offset, text, kFiller); }

MacroBuilder Calls(const std::vector<Call>& calls) {
  MacroBuilder builder;
  uint16_t id = 1;
  for (const Call& call : calls) {
    builder.Command(call.code, id, call.flags).Param(id, CallPayload(call.code, call.kind, call.name));
    ++id;
  }
  return builder;
}

std::string WithAttachments(const MacroBuilder& host, const std::vector<Attached>& attached,
                            const std::vector<Attached>& items_without_streams) {
  CompoundBuilder compound;
  std::vector<std::string> items;
  for (const Attached& a : items_without_streams) items.push_back(AttachmentItemBytes(a.stream, a.extension));
  for (const Attached& a : attached) {
    compound.AddStream(a.stream, std::string_view(a.bytes));
    items.push_back(AttachmentItemBytes(a.stream, a.extension));
  }
  EXPECT_TRUE(compound.Ok()) << compound.Problem();
  return WithAttachmentsFlag(host.Bytes()) + AttachmentArea(items, compound.Build());
}

}  // namespace brankel_test
