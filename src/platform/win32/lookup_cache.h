// Inside a LookupBatch the Win32 layer answers the discovery's many questions about names
// that are not there from folder listings read once, instead of asking the system for each
// name: under Wine every such question is a round trip to its server. Only a "no" is
// answered from a listing; whenever a name may be there, the system itself answers, so the
// answers are the system's own. What the program itself changes on disk ends the trust.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace plat::win32 {

void BeginLookupBatch();
void EndLookupBatch();
// The program changed something on disk, or may have (another program it ran).
void LookupsChanged();

// GetFileAttributes inside a batch: the kept or listed answer, with the last error set;
// nothing when the system has to be asked (the caller asks it and calls Remember).
std::optional<uint32_t> KnownAttributes(std::u16string_view path);
void RememberAttributes(std::u16string_view path, uint32_t attributes, uint32_t error);

// Inside a batch: true when a listing shows that the relative `name` is in none of the
// folders the system's search for files looks in, so the search would fail.
bool SurelyNotOnSearchPath(std::u16string_view name);

}  // namespace plat::win32
