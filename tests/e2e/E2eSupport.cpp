#include "E2eSupport.h"

#include <cstdio>
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
        std::fprintf(stderr, "stand-in driver not installed, error %lu\n", GetLastError());
        return false;
    }
    if (!standin::InstallProtectionService(BuiltFile(L"QuenvarSvc.exe")) ||
        !standin::StartNamedService(L"QuenvarSvc")) {
        std::fprintf(stderr, "service not started, error %lu\n", GetLastError());
        return false;
    }
    if (!standin::WaitForPipe(kPipeName, 20000)) {
        std::fprintf(stderr, "the service's pipe did not appear\n");
        return false;
    }
    return true;
}

}  // namespace quenvar::e2e
