// The installation's registry entries as the registry guard restores them: the
// two service keys, the Run value of the user-interface program and its entry
// in the list of installed software.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quenvar {

// Keys under HKEY_LOCAL_MACHINE, in the order of opening, arming and writing.
constexpr size_t kGuardedKeyCount = 4;
extern const wchar_t* const kGuardedKeys[kGuardedKeyCount];

struct FootprintValue {
    size_t key;  // index into kGuardedKeys
    const wchar_t* name;
    DWORD type;  // REG_DWORD, REG_SZ or REG_EXPAND_SZ
    DWORD number;
    const wchar_t* text;
};

constexpr size_t kFootprintValueCount = 15;
extern const FootprintValue InstallationFootprint[kFootprintValueCount];

// The registry data of one value: a DWORD's 4 bytes, or the UTF-16 text with
// its terminator.
std::vector<uint8_t> FootprintData(const FootprintValue& value);

// Writes every value of one key, in table order; results are not examined.
void WriteFootprintValues(HKEY key, size_t keyIndex);

// Whether every value of one key is present with its type and data (other
// values of the key are not looked at).
bool FootprintValuesInPlace(HKEY key, size_t keyIndex);

}  // namespace quenvar
