#include "client/ServiceLink.h"
#include "common/WideFormat.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdarg>
#include <cwchar>

#include "client/AccessPrompt.h"
#include "client/DevicePathTranslator.h"
#include "client/ProcessRightsCache.h"
#include "client/RightsStore.h"
#include "common/PipeProtocol.h"
#include "common/ProductInfo.h"
#include "console/LogPage.h"

namespace quenvar {

wchar_t breachLogPrefix[3][kBreachLogPrefixLength];
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

// Asks the user about one program and remembers the answer; true when denied.
bool AskAndRemember(ProcessRightsCache& cache, ProgramRights& rights, AccessEvent& event, const std::wstring& path,
                    bool forModule, uint32_t bit) {
    // The prompt reads the program's path from the record.
    StorePathField(forModule ? event.modulePath : event.processPath, path);
    auto* prompt = new AccessPrompt(event, forModule);
    prompt->Show();
    prompt->PumpWhileOpen();
    const bool allowed = prompt->allowed;
    if (allowed) {
        rights.allowedMask |= bit;
        rights.deniedMask &= ~bit;
    } else {
        rights.deniedMask |= bit;
        rights.allowedMask &= ~bit;
    }
    cache.Save(rights, path);
    delete prompt;
    return !allowed;
}

// Judges one program file for the event's kind; true when the access is denied.
bool Judge(ProcessRightsCache& cache, AccessEvent& event, const std::wstring& path, bool forModule) {
    const uint32_t bit = KindBit(event.breachKind);
    ProgramRights& rights = cache.RightsFor(path);
    if (rights.deniedMask & bit) {
        AddLogEntry(L"%ls '%ls'", KindText(event.breachKind), path.c_str());
        return true;
    }
    if (rights.allowedMask & bit) return false;
    return AskAndRemember(cache, rights, event, path, forModule, bit);
}

void ServeEvents(HANDLE pipe, DevicePathTranslator& translator) {
    AccessEvent event;
    for (;;) {
        if (!ReadExactly(pipe, &event, sizeof(event))) return;
        AccessReply reply = {event.eventId, 0};
        const std::wstring processPath = translator.ToDosPath(PathField(event.processPath));
        const std::wstring modulePath = translator.ToDosPath(PathField(event.modulePath));
        DebugTrace(L"Breach %d in process %ls, module %ls (process_id = 0x%x, thread_id = 0x%x)\n",
                   static_cast<int>(event.breachKind), processPath.c_str(), modulePath.c_str(), event.processId,
                   event.threadId);
        const bool moduleDiffers = processPath != modulePath;
        ProcessRightsCache& cache = TheRightsStore().ForProcess(event.processId);
        bool denied = Judge(cache, event, processPath, false);
        // The module of a denied process is not judged at all.
        if (moduleDiffers && !denied) denied = Judge(cache, event, modulePath, true);
        reply.allow = denied ? 0 : 1;
        if (!WriteExactly(pipe, &reply, sizeof(reply))) return;
    }
}

}  // namespace

const wchar_t* KindText(uint32_t breachKind) { return breachKind < 3 ? breachLogPrefix[breachKind] : L"unknown"; }

uint32_t KindBit(uint32_t breachKind) { return 1u << (breachKind % 32); }

std::wstring PathField(const wchar_t (&field)[kPathUnits]) {
    // The driver may fill a field to its end without a NUL.
    return std::wstring(field, std::find(field, field + kPathUnits, L'\0'));
}

void StorePathField(wchar_t (&field)[kPathUnits], const std::wstring& path) {
    const size_t length = std::min(path.size(), kPathUnits - 1);
    std::copy(path.begin(), path.begin() + length, field);
    std::fill(field + length, field + kPathUnits, L'\0');
}

DWORD WINAPI ServiceLinkThread(LPVOID) {
    DevicePathTranslator translator;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < serviceLinkTiming.attempts; ++attempt) {
        // No WaitNamedPipeW: a busy or absent pipe is a failed attempt.
        pipe = CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) break;
        Sleep(serviceLinkTiming.retryMs);
    }
    const uint32_t hello = GetCurrentProcessId();
    uint32_t status = 0;
    if (!WriteExactly(pipe, &hello, sizeof(hello)) || !ReadExactly(pipe, &status, sizeof(status))) {
        AddLogEntry(L"Initialization error, protection disabled.  Error code = NO SERVICE.");
        MessageBoxW(nullptr, InitializationErrorText(L"NO SERVICE").c_str(), kErrorTitle, 0);
        if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
        return 0;
    }
    if (status != ExpectedDriverStatus) {
        AddLogEntry(L"Initialization error, protection disabled.  Error code = 0x%x.", status);
        wchar_t code[16];
        FormatInto(code, 16, L"0x%x", status);
        MessageBoxW(nullptr, InitializationErrorText(code).c_str(), kErrorTitle, 0);
    }
    ServeEvents(pipe, translator);
    CloseHandle(pipe);
    return 0;
}

bool SendDisableGuard() {
    HANDLE pipe = CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return false;
    const uint32_t command = DisableGuardCode;
    const bool sent = WriteExactly(pipe, &command, sizeof(command));
    CloseHandle(pipe);
    return sent;
}

void DebugTrace(const wchar_t* format, ...) {
    wchar_t text[1024];
    va_list args;
    va_start(args, format);
    // Bounded: two long paths must not overrun the buffer.
    FormatIntoV(text, 1024, format, args);
    va_end(args);
    OutputDebugStringW(text);
}

}  // namespace quenvar
