#include "service/ServicePlatform.h"

#include <sddl.h>
#include <wtsapi32.h>

#include "common/DriverInterface.h"
#include "common/UniqueResource.h"
#include "service/DriverChannel.h"
#include "service/WellKnownSid.h"

namespace quenvar {
namespace {

bool OpenQuenvarDevice(HANDLE* device) { return OpenDriverDevice(kDriverDeviceName, device); }

void CloseDevice(HANDLE device) {
    if (device != nullptr && device != INVALID_HANDLE_VALUE) CloseHandle(device);
}

BOOL ControlDevice(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* returned) {
    return DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr);
}

bool SessionOfProcess(uint32_t processId, uint32_t* sessionId) {
    DWORD session = 0;
    if (!ProcessIdToSessionId(processId, &session)) return false;
    *sessionId = session;
    return true;
}

// The token's user as a SID string; false when it cannot be read.
bool UserOfToken(HANDLE token, std::wstring* user) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) return false;
    UniqueLocalMemory buffer(LocalAlloc(LPTR, size));
    if (!buffer || !GetTokenInformation(token, TokenUser, buffer.get(), size, &size)) return false;
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(static_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text)) return false;
    const UniqueLocalMemory owned(text);
    *user = text;
    return !user->empty();
}

bool UserOfProcess(uint32_t processId, std::wstring* user) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    UniqueHandle token;
    return process && OpenProcessToken(process.get(), TOKEN_QUERY, token.receive()) &&
           UserOfToken(token.get(), user);
}

// As LocalSystem, WTSQueryUserToken gives the token of the user logged on to
// the session, and fails when nobody is.
bool UserOfSession(uint32_t sessionId, std::wstring* user) {
    UniqueHandle token;
    return WTSQueryUserToken(sessionId, token.receive()) && UserOfToken(token.get(), user);
}

// Membership of the thread's impersonation token.
bool TokenHolds(PSID sid) {
    BOOL member = FALSE;
    return sid != nullptr && CheckTokenMembership(nullptr, sid, &member) && member;
}

}  // namespace

bool IdentifyPipeClient(HANDLE pipe, ClientIdentity* identity) {
    if (!ImpersonateNamedPipeClient(pipe)) return false;
    bool known = false;
    {
        UniqueHandle token;
        DWORD session = 0, size = 0;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.receive()) &&
            GetTokenInformation(token.get(), TokenSessionId, &session, sizeof(session), &size)) {
            identity->sessionId = session;
            identity->user.clear();
            UserOfToken(token.get(), &identity->user);  // unreadable: no user, so never served
            identity->administrator = TokenHolds(WellKnownSid(WellKnownSid::kAdministrators).get()) ||
                                      TokenHolds(MakeSid(5, 1, SECURITY_LOCAL_SYSTEM_RID).get());
            known = true;
        }
    }
    // A thread that cannot drop the client's identity must not go on as the client.
    if (!RevertToSelf()) ExitThread(0);
    return known;
}

const ServicePlatform kWin32ServicePlatform = {OpenQuenvarDevice, CloseDevice,        ControlDevice,
                                               SessionOfProcess,  IdentifyPipeClient, CreateNamedPipeW,
                                               UserOfProcess,     UserOfSession};

}  // namespace quenvar
