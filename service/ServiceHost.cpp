#include "service/ServiceHost.h"
#include "common/WideFormat.h"

#include <winternl.h>
#include <wtsapi32.h>

#include <cwchar>
#include <memory>
#include <new>

#include "common/DriverInterface.h"
#include "common/ProductInfo.h"
#include "common/UniqueResource.h"
#include "service/DriverChannel.h"
#include "service/EventPump.h"
#include "service/FilterVetter.h"
#include "service/PipeServer.h"
#include "service/RegistryGuard.h"
#include "service/ServiceContext.h"

namespace quenvar {
namespace {

constexpr const wchar_t* kServiceName = L"QuenvarSvc";
constexpr SIZE_T kThreadStack = 32767;

SERVICE_STATUS serviceStatus;
SERVICE_STATUS_HANDLE serviceStatusHandle;
// Held for the life of the service; the pump uses it until the process ends.
UniqueHandle deviceHandle;
DWORD registryGuardThreadId;
DWORD filterVetterThreadId;
DWORD pipeServerThreadId;
// Shows the driver message after the service has reported itself stopped; the
// process waits for it before it ends.
HANDLE driverMessageThread;

void StartServiceThread(LPTHREAD_START_ROUTINE entry, DWORD* threadId) {
    UniqueHandle thread(CreateThread(nullptr, kThreadStack, entry, nullptr, 0, threadId));  // not kept
}

using NtQueryInformationProcessFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

DWORD WINAPI DriverMessageThread(LPVOID error) {
    MessageBoxW(nullptr, DriverMissingMessage(static_cast<DWORD>(reinterpret_cast<uintptr_t>(error))).c_str(),
                L"Quenvar Lockmere", MB_SERVICE_NOTIFICATION);
    return 0;
}

struct LogonChange {
    ServiceContext* service;
    uint32_t sessionId;
    bool loggedOn;
};

DWORD WINAPI LogonChangeWork(LPVOID work) {
    std::unique_ptr<LogonChange> change(static_cast<LogonChange*>(work));
    try {
        ChangeSessionLogon(change->sessionId, change->loggedOn, *change->service);
    } catch (const std::bad_alloc&) {
        // The table could not be searched; the queue stays for the next client.
    }
    return 0;
}

}  // namespace

int RunServiceProcess() {
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), ServiceMain},
                                    {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) ExitProcess(0);  // not started as a service
    if (driverMessageThread != nullptr) WaitForSingleObject(driverMessageThread, INFINITE);
    return 0;
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    if (control != SERVICE_CONTROL_SESSIONCHANGE) return ERROR_CALL_NOT_IMPLEMENTED;
    if ((eventType == WTS_SESSION_LOGOFF || eventType == WTS_SESSION_LOGON) && eventData != nullptr &&
        context != nullptr) {
        const auto* change = static_cast<const WTSSESSION_NOTIFICATION*>(eventData);
        std::unique_ptr<LogonChange> work(new (std::nothrow) LogonChange{
            static_cast<ServiceContext*>(context), change->dwSessionId, eventType == WTS_SESSION_LOGON});
        if (work && QueueUserWorkItem(LogonChangeWork, work.get(), WT_EXECUTEDEFAULT)) work.release();
    }
    return NO_ERROR;
}

uint32_t FindParentProcessId() {
    uint32_t parentId = 0xFFFFFFFF;
    UniqueModule ntdll(LoadLibraryW(L"NTDLL.DLL"));
    if (!ntdll) return parentId;
    auto query = reinterpret_cast<NtQueryInformationProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll.get(), "NtQueryInformationProcess")));
    if (query != nullptr) {
        PROCESS_BASIC_INFORMATION info = {};
        ULONG length = 0;
        if (query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof(info), &length) == 0)
            parentId = static_cast<uint32_t>(info.InheritedFromUniqueProcessId);
    }
    return parentId;
}

std::wstring DriverMissingMessage(DWORD errorCode) {
    wchar_t text[1024];
    FormatInto(text, 1024,
               L"Quenvar Lockmere could not find a valid version of a required driver.  Service is "
               L"terminating and protection will not be available.  This problem may be solved by "
               L"reinstalling the software.\n\nThe service-level error code is : 0x%x  Please report "
               L"this error code to %ls",
               static_cast<unsigned>(errorCode), kSupportEmail);
    return text;
}

uint32_t RegisterWithDriver(HANDLE device, const ServicePlatform& platform, uint32_t parentProcessId) {
    // The driver keeps the Service Control Manager's process handle.
    UniqueHandle parent(OpenProcess(PROCESS_ALL_ACCESS, FALSE, parentProcessId));
    DWORD status = 0;
    platform.deviceControl(device, IOCTL_REGISTER_SERVICE, nullptr, 0, parent.get(), 0, &status);
    return status;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    ServiceContext& service = TheService();

    serviceStatus.dwServiceType = SERVICE_WIN32;
    serviceStatus.dwCurrentState = SERVICE_START_PENDING;
    // No stop, no pause: only the news of a logoff.
    serviceStatus.dwControlsAccepted = SERVICE_ACCEPT_SESSIONCHANGE;
    serviceStatus.dwWin32ExitCode = 0;
    serviceStatus.dwServiceSpecificExitCode = 0;
    serviceStatus.dwCheckPoint = 0;
    serviceStatus.dwWaitHint = 0;
    serviceStatusHandle = RegisterServiceCtrlHandlerExW(kServiceName, ServiceControlHandler, &service);
    if (serviceStatusHandle == nullptr)
        MessageBoxW(nullptr, L"Unable to install service control handler.", L"Quenvar Service", MB_OK);

    // Reported running before the driver is opened; start-pending is never reported.
    serviceStatus.dwCurrentState = SERVICE_RUNNING;
    serviceStatus.dwCheckPoint = 0;
    serviceStatus.dwWaitHint = 0;
    SetServiceStatus(serviceStatusHandle, &serviceStatus);

    HANDLE openedHandle = nullptr;
    const bool opened = OpenDriverDevice(kDriverDeviceName, &openedHandle);
    const DWORD openError = GetLastError();
    if (!opened) {
        // Without the driver there is no protection: the Service Control
        // Manager is told so at once, with the error, while the message waits
        // for the user.
        void* const error = reinterpret_cast<void*>(static_cast<uintptr_t>(openError));
        driverMessageThread = CreateThread(nullptr, kThreadStack, DriverMessageThread, error, 0, nullptr);
        if (driverMessageThread == nullptr) DriverMessageThread(error);
        serviceStatus.dwCurrentState = SERVICE_STOPPED;
        serviceStatus.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        serviceStatus.dwServiceSpecificExitCode = openError;
        SetServiceStatus(serviceStatusHandle, &serviceStatus);
        return;
    }

    deviceHandle.reset(openedHandle);

    StartServiceThread(RegistryGuardThread, &registryGuardThreadId);
    StartServiceThread(FilterVetterThread, &filterVetterThreadId);

    service.driverStatus = RegisterWithDriver(deviceHandle.get(), kWin32ServicePlatform, FindParentProcessId());

    StartServiceThread(PipeServerThread, &pipeServerThreadId);

    RunEventPump(deviceHandle.get(), service);
}

}  // namespace quenvar
