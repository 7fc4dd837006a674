#include "client/ServiceLink.h"

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

ServiceLinkTiming serviceLinkTiming = {60, 1000};

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

// How long the disable command waits for a pipe instance that is busy.
constexpr DWORD kDisableRetryMs = 5000;
constexpr DWORD kDisableRetryPauseMs = 50;

UniqueHandle OpenServicePipe(DWORD* error = nullptr) {
    // Identification only: a program posing as the service may learn who we
    // are, but can never act as the user.
    UniqueHandle pipe(CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (error != nullptr) *error = pipe ? ERROR_SUCCESS : GetLastError();
    return pipe;
}

void ServeEvents(HANDLE pipe, DevicePathTranslator& translator) {
    AccessEvent event;
    for (;;) {
        if (!ReadExactly(pipe, &event, sizeof(event))) return;
        const AccessReply reply = JudgeEvent(event, translator);
        if (!WriteExactly(pipe, &reply, sizeof(reply))) return;
    }
}

}  // namespace

DWORD WINAPI ServiceLinkThread(LPVOID) {
    DevicePathTranslator translator;
    UniqueHandle pipe;
    for (int attempt = 0; attempt < serviceLinkTiming.attempts; ++attempt) {
        // No WaitNamedPipeW: a busy or absent pipe is a failed attempt.
        pipe = OpenServicePipe();
        if (pipe) break;
        Sleep(serviceLinkTiming.retryMs);
    }
    const uint32_t hello = GetCurrentProcessId();
    uint32_t status = 0;
    if (!pipe || !WriteExactly(pipe.get(), &hello, sizeof(hello)) ||
        !ReadExactly(pipe.get(), &status, sizeof(status))) {
        LogLine(L"Initialization error, protection disabled.  Error code = NO SERVICE.");
        showMessageBox(nullptr, InitializationErrorText(L"NO SERVICE").c_str(), kErrorTitle, 0);
        return 0;
    }
    if (status != ExpectedDriverStatus) {
        LogLine(L"Initialization error, protection disabled.  Error code = 0x%x.", status);
        wchar_t code[16];
        FormatInto(code, 16, L"0x%x", status);
        showMessageBox(nullptr, InitializationErrorText(code).c_str(), kErrorTitle, 0);
    }
    ServeEvents(pipe.get(), translator);
    return 0;
}

bool SendDisableGuard() {
    UniqueHandle pipe;
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD error = ERROR_SUCCESS;
        pipe = OpenServicePipe(&error);
        if (pipe) break;
        // A busy pipe (the logon's program being served) is waited for; an
        // absent one means no service, and nothing is to be gained by waiting.
        if (error != ERROR_PIPE_BUSY || GetTickCount() - start >= kDisableRetryMs) return false;
        Sleep(kDisableRetryPauseMs);
    }
    const uint32_t command = DisableGuardCode;
    return WriteExactly(pipe.get(), &command, sizeof(command));
}

}  // namespace quenvar
