// The two path fields of an access event: read no further than their units,
// written with their terminating NUL always kept.
#pragma once

#include <string>

#include "common/DriverInterface.h"

namespace quenvar {

// A path field of an event up to its NUL, never past its 262 units.
std::wstring PathField(const wchar_t (&field)[kPathUnits]);
// Stores a path into a field: at most 261 characters and always a NUL.
void StorePathField(wchar_t (&field)[kPathUnits], const std::wstring& path);

}  // namespace quenvar
