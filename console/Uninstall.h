// QuenvarUI "/U": switches off the service's registry guard, schedules the
// installed files for deletion at the next restart, removes both services and
// the installation's registry entries, and offers the restart.
#pragma once

#include <string>
#include <vector>

namespace quenvar {

// The uninstall mode, after the common start-up; returns the exit code (0).
int RunUninstall();

// The eight files and folders the uninstall schedules for deletion, in order.
std::vector<std::wstring> UninstallDeletions(const wchar_t* windowsFolder, const wchar_t* commonProgramsFolder,
                                             const wchar_t* systemFolder);

}  // namespace quenvar
