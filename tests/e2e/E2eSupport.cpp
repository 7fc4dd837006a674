#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/PipeProtocol.h"
#include "support/WineSystem.h"

namespace quenvar::e2e {

std::wstring BinFolder() {
    const char* bin = std::getenv("QUENVAR_BIN");
    return standin::WinePath(bin ? bin : ".");
}

std::wstring BuiltFile(const wchar_t* name) { return BinFolder() + L"\\" + name; }

bool InstallDriverAndService() {
    if (!standin::InstallStandInDriver(BuiltFile(L"QuenvarStandInDriver.sys"))) {
        ADD_FAILURE() << "stand-in driver not installed, error " << GetLastError();
        return false;
    }
    if (!standin::InstallProtectionService(BuiltFile(L"QuenvarSvc.exe")) ||
        !standin::StartNamedService(L"QuenvarSvc")) {
        ADD_FAILURE() << "service not started, error " << GetLastError();
        return false;
    }
    if (!standin::WaitForPipe(kPipeName, 20000)) {
        ADD_FAILURE() << "the service's pipe did not appear";
        return false;
    }
    return true;
}

}  // namespace quenvar::e2e
