// INI text as a profile file holds it: any bytes, any encoding mark.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/posix/profile_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = plat::posix::DecodeProfileText(bytes);
  // The first line's words serve as section and key so that lookups hit as well as miss.
  const std::u16string_view view(text);
  const std::u16string_view first = view.substr(0, view.find(u'\n'));
  (void)plat::posix::FindProfileValue(view, first.substr(0, first.size() / 2), first.substr(first.size() / 2));
  (void)plat::posix::FindProfileValue(view, u"General", u"Language");
  return 0;
}
