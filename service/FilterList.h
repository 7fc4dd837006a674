// Keyboard filter driver lists as the registry holds them (REG_MULTI_SZ) and the
// comparisons the filter vetting makes on them. No OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quenvar {

using FilterList = std::vector<std::wstring>;

// A-Z become a-z; no other character changes.
std::wstring LowerCaseAscii(const std::wstring& name);

// Walks a multi-string of `bytes` bytes: each entry lower-cased, the walk ending
// at the first empty entry or at the end of the data. An odd last byte and a
// missing final NUL are tolerated; nothing past the data is read.
FilterList ParseFilterList(const uint8_t* data, size_t bytes);

// Each name followed by a NUL, then one more NUL; an empty list is a single NUL.
std::vector<uint8_t> BuildFilterList(const FilterList& names);

// The entries of current, in order, that equal no entry of known.
FilterList UnvettedFilters(const FilterList& current, const FilterList& known);

// Removes the first entry equal to name; false when there is none.
bool RemoveFirst(FilterList* list, const std::wstring& name);

// The text of the question about one driver.
std::wstring FilterPromptText(const std::wstring& name);

}  // namespace quenvar
