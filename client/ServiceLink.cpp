#include "client/ServiceLink.h"

#include <aclapi.h>

#include <string>

#include "client/DevicePathTranslator.h"
#include "client/EventJudge.h"
#include "client/LogSink.h"
#include "common/PipeProtocol.h"
#include "common/ProductInfo.h"
#include "common/UniqueResource.h"
#include "common/WideFormat.h"
#include "ui/MessageBoxCall.h"

namespace quenvar {

ServiceLinkTiming serviceLinkTiming = {250, 30000, 10000, 60000, 2000, 2000};

const wchar_t* const kProtectionSuspendedLine =
    L"Protection suspended: the link to the protection service was lost.  Reconnecting...";
const wchar_t* const kProtectionBackLine = L"Protection resumed: the link to the protection service is back.";
const wchar_t* const kImpostorLine = L"Refused a program posing as the protection service.";

namespace {

constexpr const wchar_t* kErrorTitle = L"Initialization Error, Protection Disabled";

bool WriteExactly(HANDLE pipe, const void* data, DWORD size) {
    DWORD moved = 0;
    return WriteFile(pipe, data, size, &moved, nullptr) && moved == size;
}

bool ReadExactly(HANDLE pipe, void* data, DWORD size) {
    DWORD moved = 0;
    return ReadFile(pipe, data, size, &moved, nullptr) && moved == size;
}

std::wstring InitializationErrorText(const wchar_t* code) {
    return std::wstring(L"Quenvar Lockmere could not initialize properly.  Please report the following error code to ") +
           kSupportEmail + L"!\n\nError code = " + code;
}

// How long a guard command waits for a pipe instance that is busy.
constexpr DWORD kCommandWaitMs = 5000;
// How often a fresh connection is looked at for the service's refusal.
constexpr DWORD kRefusalPollMs = 20;
constexpr SIZE_T kBoxThreadStack = 0x8000;

UniqueHandle OpenServicePipe(DWORD* error = nullptr) {
    // Identification only: a program posing as the service may learn who we
    // are, but can never act as the user.
    UniqueHandle pipe(CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (error != nullptr) *error = pipe ? ERROR_SUCCESS : GetLastError();
    return pipe;
}

// The service makes its pipe with LocalSystem as the owner, which no other
// program can give what it makes: a pipe of that name with another owner, or
// none, is a program posing as the service.
bool OwnedByLocalSystem(HANDLE pipe) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    const UniqueLocalMemory held(descriptor);
    return owner != nullptr && IsWellKnownSid(owner, WinLocalSystemSid);
}

// One attempt: opens an instance of the pipe, waiting up to waitMs while every
// instance is busy (a flood of other programs' connections takes them too). An
// absent pipe means no service: nothing is gained by waiting. A pipe that is
// not the service's is closed unused; *impostor then tells so.
UniqueHandle ConnectToService(DWORD waitMs, bool* impostor = nullptr) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD error = ERROR_SUCCESS;
        UniqueHandle pipe = OpenServicePipe(&error);
        const DWORD spent = GetTickCount() - start;
        if (pipe && !OwnedByLocalSystem(pipe.get())) {
            if (impostor != nullptr) *impostor = true;
            return UniqueHandle();
        }
        if (pipe || error != ERROR_PIPE_BUSY || spent >= waitMs) return pipe;
        WaitNamedPipeW(kPipeName, waitMs - spent);  // whatever it says, the next open tells
    }
}

bool Introduce(HANDLE pipe, uint32_t* status) {
    const uint32_t hello = GetCurrentProcessId();
    *status = 0;
    return WriteExactly(pipe, &hello, sizeof(hello)) && ReadExactly(pipe, status, sizeof(*status));
}

// The service closes a connection it refuses right after the status, and keeps
// one it serves. True when an event comes or the connection outlasts the window.
bool ServedAfterStatus(HANDLE pipe, DWORD windowMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available > 0 || GetTickCount() - start >= windowMs) return true;
        Sleep(kRefusalPollMs);
    }
}

void ServeEvents(HANDLE pipe, DevicePathTranslator& translator) {
    AccessEvent event;
    for (;;) {
        if (!ReadExactly(pipe, &event, sizeof(event))) return;
        const AccessReply reply = JudgeEvent(event, translator);
        if (!WriteExactly(pipe, &reply, sizeof(reply))) return;
    }
}

void ShowInitializationError(const wchar_t* code) {
    showMessageBox(nullptr, InitializationErrorText(code).c_str(), kErrorTitle, 0);
}

DWORD WINAPI NoServiceBoxThread(LPVOID) {
    ShowInitializationError(L"NO SERVICE");
    return 0;
}

// The box waits for the user on a thread of its own, so that the link goes on
// looking for the service meanwhile.
void ReportNoService() {
    LogLine(L"Initialization error, protection disabled.  Error code = NO SERVICE.");
    const UniqueHandle thread(CreateThread(nullptr, kBoxThreadStack, NoServiceBoxThread, nullptr, 0, nullptr));
    if (!thread) NoServiceBoxThread(nullptr);
}

void ReportStatusError(uint32_t status) {
    LogLine(L"Initialization error, protection disabled.  Error code = 0x%x.", status);
    wchar_t code[16];
    FormatInto(code, 16, L"0x%x", status);
    ShowInitializationError(code);
}

// Pauses between attempts; true when the stop event ends the thread.
bool PauseOrStop(HANDLE stop, DWORD pauseMs) {
    if (stop == nullptr) {
        Sleep(pauseMs);
        return false;
    }
    return WaitForSingleObject(stop, pauseMs) != WAIT_TIMEOUT;
}

}  // namespace

DWORD WINAPI ServiceLinkThread(LPVOID stopEvent) {
    const ServiceLinkTiming timing = serviceLinkTiming;
    DevicePathTranslator translator;
    LinkSchedule schedule(timing);
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD began = GetTickCount();
        bool impostor = false;
        UniqueHandle pipe = ConnectToService(timing.instanceWaitMs, &impostor);
        if (impostor && schedule.ImpostorDue()) LogLine(kImpostorLine);
        uint32_t status = 0;
        if (pipe && Introduce(pipe.get(), &status)) {
            // As before: the error is reported, and the events are judged all the same.
            if (schedule.StatusErrorDue(status)) ReportStatusError(status);
            if (ServedAfterStatus(pipe.get(), timing.refusalWindowMs)) {
                if (schedule.BackDue()) LogLine(kProtectionBackLine);
                ServeEvents(pipe.get(), translator);
            }
            pipe.reset();
            // Ended, or cut off because another program holds the session.
            if (schedule.SuspendedDue()) LogLine(kProtectionSuspendedLine);
            schedule.ConnectionEnded(GetTickCount() - began);
        } else if (schedule.NoServiceDue(GetTickCount() - start)) {
            ReportNoService();
        }
        if (PauseOrStop(static_cast<HANDLE>(stopEvent), schedule.NextPause())) return 0;
    }
}

bool SendGuardCommand(uint32_t command) {
    const UniqueHandle pipe = ConnectToService(kCommandWaitMs);
    if (!pipe || !WriteExactly(pipe.get(), &command, sizeof(command))) return false;
    // The service ends the connection once the command is carried out. One
    // that keeps it open is waited for no longer than a busy pipe is.
    for (const DWORD start = GetTickCount(); GetTickCount() - start < kCommandWaitMs; Sleep(kRefusalPollMs))
        if (!PeekNamedPipe(pipe.get(), nullptr, 0, nullptr, nullptr, nullptr)) break;
    return true;
}

}  // namespace quenvar
