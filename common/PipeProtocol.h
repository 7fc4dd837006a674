// The exchange between the service and the user-interface program over one pipe:
// a 4-byte hello, a 4-byte status, then AccessEvent down / AccessReply up.
#pragma once

#include <cstdint>

namespace quenvar {

constexpr const wchar_t* kPipeName = L"\\\\.\\pipe\\QuenvarUIPipe";

// Hellos that are commands rather than process ids.
constexpr uint32_t EnableGuardCode = 0xDEAFDEAD;
constexpr uint32_t DisableGuardCode = 0xDEADBEEF;

// The only driver status that means the driver is ready.
constexpr uint32_t ExpectedDriverStatus = 0x7FFE7;

using ClientHello = uint32_t;
using HelloStatus = uint32_t;

}  // namespace quenvar
