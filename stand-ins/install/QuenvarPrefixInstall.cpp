// Installs the system into a Wine prefix the way the uninstall expects to find
// it: QuenvarUI.exe and QuenvarDll.dll in the Windows folder, QuenvarSvc.exe in
// the System folder, the stand-in driver as Drivers\Quenvr.sys, the Start menu
// folder "Quenvar Lockmere" with the documents, both services, and every value
// of the installation footprint. For tests and the demonstration only.
//   QuenvarPrefixInstall BIN_DIR [DOCS_DIR] [--start [--driver-status N]]
// --driver-status makes the stand-in driver report N to the service's
// registration instead of the ready status.
#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <string>

#include "common/UniqueResource.h"
#include "service/InstallationFootprint.h"
#include "support/StandInDriverClient.h"
#include "support/Utf8Print.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::standin;

namespace {

bool Copy(const std::wstring& from, const std::wstring& to) {
    if (CopyFileW(from.c_str(), to.c_str(), FALSE)) return true;
    PrintError(L"cannot copy %ls to %ls (error %lu)\n", from.c_str(), to.c_str(), GetLastError());
    return false;
}

bool CreateServiceEntry(SC_HANDLE manager, const wchar_t* name, DWORD type, DWORD start, const std::wstring& image) {
    UniqueServiceHandle service(CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, type, start,
                                               SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                                               nullptr, nullptr));
    if (!service && GetLastError() != ERROR_SERVICE_EXISTS) {
        PrintError(L"cannot create service %ls (error %lu)\n", name, GetLastError());
        return false;
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        PrintError(L"usage: QuenvarPrefixInstall BIN_DIR [DOCS_DIR] [--start]\n");
        return 2;
    }
    const std::wstring bin = argv[1];
    std::wstring docs;
    bool start = false;
    long driverStatus = -1;
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--start")
            start = true;
        else if (arg == L"--driver-status" && i + 1 < argc)
            driverStatus = static_cast<long>(wcstoul(argv[++i], nullptr, 0));
        else
            docs = arg;
    }

    wchar_t windows[MAX_PATH], system[MAX_PATH], programs[MAX_PATH];
    SHGetSpecialFolderPathW(nullptr, windows, CSIDL_WINDOWS, TRUE);
    SHGetSpecialFolderPathW(nullptr, system, CSIDL_SYSTEM, TRUE);
    SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, TRUE);
    const std::wstring folder = std::wstring(programs) + L"\\Quenvar Lockmere";
    CreateDirectoryW(folder.c_str(), nullptr);

    bool ok = Copy(bin + L"\\QuenvarUI.exe", std::wstring(windows) + L"\\QuenvarUI.exe") &&
              Copy(bin + L"\\QuenvarDll.dll", std::wstring(windows) + L"\\QuenvarDll.dll") &&
              Copy(bin + L"\\QuenvarSvc.exe", std::wstring(system) + L"\\QuenvarSvc.exe") &&
              Copy(bin + L"\\QuenvarStandInDriver.sys", std::wstring(system) + L"\\Drivers\\Quenvr.sys");
    for (const wchar_t* document : {L"ReadMe.rtf", L"License.rtf", L"Lockmere Help.chm"}) {
        if (docs.empty()) break;
        const std::wstring from = docs + L"\\" + document;
        if (GetFileAttributesW(from.c_str()) != INVALID_FILE_ATTRIBUTES)
            ok = Copy(from, folder + L"\\" + document) && ok;
        else
            PrintError(L"no %ls in %ls: not installed\n", document, docs.c_str());
    }
    if (!ok) return 1;

    UniqueServiceHandle manager(OpenServiceManager(SC_MANAGER_ALL_ACCESS));
    ok = CreateServiceEntry(manager.get(), L"Quenvar", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                            std::wstring(system) + L"\\Drivers\\Quenvr.sys") &&
         CreateServiceEntry(manager.get(), L"QuenvarSvc", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                            std::wstring(system) + L"\\QuenvarSvc.exe");
    manager.reset();
    if (!ok) return 1;

    // Wine loads a driver only from an absolute image path and only on demand:
    // the driver is started from the service entry as created, before the
    // footprint (relative image path, boot start) is written over it.
    if (start && !StartNamedService(L"Quenvar")) {
        PrintError(L"cannot start the driver (error %lu)\n", GetLastError());
        return 1;
    }
    if (start && driverStatus >= 0 && !StandInDriverClient().SetRegisterStatus(static_cast<uint32_t>(driverStatus))) {
        PrintError(L"cannot set the driver status\n");
        return 1;
    }

    // The footprint exactly as the registry guard restores it.
    for (size_t i = 0; i < kGuardedKeyCount; ++i) {
        UniqueRegKey key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGuardedKeys[i], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            key.receive(), nullptr) != ERROR_SUCCESS) {
            PrintError(L"cannot open %ls\n", kGuardedKeys[i]);
            return 1;
        }
        WriteFootprintValues(key.get(), i);
    }
    Print(L"installed into %ls, %ls and %ls\n", windows, system, folder.c_str());

    if (start) {
        // The service reports running before it registers with the driver; the
        // callers' first look at the driver's journal must come after that.
        StandInDriverClient driver;
        const uint32_t registered = driver.QueryState().registrations;
        if (!StartNamedService(L"QuenvarSvc")) {
            PrintError(L"cannot start the service (error %lu)\n", GetLastError());
            return 1;
        }
        for (int i = 0; i < 200 && driver.QueryState().registrations == registered; ++i) Sleep(50);
        if (driver.QueryState().registrations == registered) {
            PrintError(L"the service did not register with the driver\n");
            return 1;
        }
        Print(L"driver and service running\n");
    }
    return 0;
}
