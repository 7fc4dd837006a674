#include "client/PathField.h"

#include <algorithm>

namespace quenvar {

std::wstring PathField(const wchar_t (&field)[kPathUnits]) {
    // The driver may fill a field to its end without a NUL.
    return std::wstring(field, std::find(field, field + kPathUnits, L'\0'));
}

void StorePathField(wchar_t (&field)[kPathUnits], const std::wstring& path) {
    const size_t length = std::min(path.size(), kPathUnits - 1);
    std::copy(path.begin(), path.begin() + length, field);
    std::fill(field + length, field + kPathUnits, L'\0');
}

}  // namespace quenvar
