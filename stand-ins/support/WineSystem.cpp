#include "support/WineSystem.h"

#include "common/UniqueResource.h"

namespace quenvar::standin {
namespace {

bool CreateOrKeepService(const wchar_t* name, DWORD type, DWORD start, const std::wstring& binary) {
    UniqueServiceHandle manager(OpenServiceManager(SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    UniqueServiceHandle service(CreateServiceW(manager.get(), name, name, SERVICE_ALL_ACCESS, type, start,
                                               SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr,
                                               nullptr, nullptr));
    return service.valid() || GetLastError() == ERROR_SERVICE_EXISTS;
}

}  // namespace

SC_HANDLE OpenServiceManager(DWORD access) {
    // In a prefix whose server has just started, Wine's service manager may
    // not be listening yet: its pipe is missing and the call fails with
    // RPC_S_SERVER_UNAVAILABLE. Windows starts it before any logon.
    for (int attempt = 0;; ++attempt) {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, access);
        if (manager || GetLastError() != RPC_S_SERVER_UNAVAILABLE || attempt == 200) return manager;
        Sleep(100);
    }
}

std::wstring SystemFolder() {
    wchar_t path[MAX_PATH];
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

std::wstring WindowsFolder() {
    wchar_t path[MAX_PATH];
    GetWindowsDirectoryW(path, MAX_PATH);
    return path;
}

std::wstring WinePath(const std::string& path) {
    std::wstring wide(path.begin(), path.end());
    if (wide.size() >= 2 && wide[1] == L':') return wide;
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return L"Z:" + wide;
}

bool InstallStandInDriver(const std::wstring& driverFile) {
    const std::wstring target = SystemFolder() + L"\\drivers\\quenvr.sys";
    if (!CopyFileW(driverFile.c_str(), target.c_str(), FALSE)) return false;
    if (!CreateOrKeepService(L"Quenvar", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, target)) return false;
    return StartNamedService(L"Quenvar");
}

bool InstallProtectionService(const std::wstring& serviceExe) {
    const std::wstring target = SystemFolder() + L"\\QuenvarSvc.exe";
    if (!CopyFileW(serviceExe.c_str(), target.c_str(), FALSE)) return false;
    return CreateOrKeepService(L"QuenvarSvc", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, target);
}

bool StartNamedService(const wchar_t* name) {
    UniqueServiceHandle manager(OpenServiceManager(SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service) return false;
    if (!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    for (int i = 0; i < 200; ++i) {
        if (ServiceState(name) == SERVICE_RUNNING) return true;
        Sleep(50);
    }
    return false;
}

DWORD ServiceState(const wchar_t* name) {
    UniqueServiceHandle manager(OpenServiceManager(SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
    return status.dwCurrentState;
}

DWORD ServiceProcessId(const wchar_t* name) {
    UniqueServiceHandle manager(OpenServiceManager(SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!service ||
        !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed))
        return 0;
    return status.dwProcessId;
}

DWORD SendServiceControl(const wchar_t* name, DWORD control) {
    UniqueServiceHandle manager(OpenServiceManager(SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
    SERVICE_STATUS status = {};
    if (!service) return GetLastError();
    return ControlService(service.get(), control, &status) ? 0 : GetLastError();
}

bool WaitForPipe(const wchar_t* pipeName, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (WaitNamedPipeW(pipeName, 100)) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace quenvar::standin
