// Restarting Windows, as offered after an uninstall or a denied keyboard filter
// driver. Callers go through restartRoutine so that no test ever restarts the
// machine it runs on.
#pragma once

namespace quenvar {

// Enables "SeShutdownPrivilege" in the process token and asks for a reboot.
// No result is examined.
void RestartWindows();

// What callers call; RestartWindows unless a test replaced it.
extern void (*restartRoutine)();

}  // namespace quenvar
