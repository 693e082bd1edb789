// The running program's own mapped image: the section a build added to it.
#pragma once

#include <optional>
#include <string_view>

#include "platform/byte_view.h"

namespace runtime {

// The mapped bytes of the running program's section called `name` (its virtual size, cut
// to what the headers say is mapped), or nothing when it has none.
std::optional<plat::ByteView> OwnSection(std::string_view name);

}  // namespace runtime
