// Watches the installation's registry keys and, while the guard is enabled,
// writes the whole installation footprint back about a second after any change.
#pragma once

#include <windows.h>

#include "service/ServiceContext.h"

namespace quenvar {

// The guard's loop; never returns.
[[noreturn]] void RunRegistryGuard(ServiceContext& service);

// Thread entry for the running service.
DWORD WINAPI RegistryGuardThread(LPVOID unused);

}  // namespace quenvar
