// What the service needs of the driver, of the session manager and of the
// security system, as plain function pointers so that tests can stand in for
// them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace quenvar {

// Who is at the other end of a pipe connection, as its token says.
struct ClientIdentity {
    uint32_t sessionId = 0;      // the token's TokenSessionId
    bool administrator = false;  // member of BUILTIN\Administrators, or LocalSystem
    std::wstring user;           // the token's user, as a SID string ("S-1-5-...")
};

struct ServicePlatform {
    // Opens a device handle of the driver; false leaves *device untouched.
    bool (*openDevice)(HANDLE* device);
    void (*closeDevice)(HANDLE device);
    BOOL (*deviceControl)(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                          DWORD outSize, DWORD* returned);
    // Terminal-Services session of a process; false when it cannot be found
    // (no such process, or one that has gone).
    bool (*sessionOfProcess)(uint32_t processId, uint32_t* sessionId);
    // Reads the identity of a connected pipe's client by impersonating it; false
    // when it cannot be read (the client then counts as nobody).
    bool (*identifyClient)(HANDLE pipe, ClientIdentity* identity);
    // CreateNamedPipeW, or a stand-in that fails on purpose.
    HANDLE(WINAPI* createNamedPipe)
    (LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances, DWORD outBuffer, DWORD inBuffer,
     DWORD defaultTimeout, LPSECURITY_ATTRIBUTES security);
    // The user of a process's token, as a SID string; false when the process or
    // its token cannot be read.
    bool (*userOfProcess)(uint32_t processId, std::wstring* user);
    // The user logged on to a session, as a SID string; false when nobody is,
    // or when it cannot be told.
    bool (*userOfSession)(uint32_t sessionId, std::wstring* user);
};

// The real driver "Quenvar", ProcessIdToSessionId, the client's token,
// CreateNamedPipeW, the process's token and WTSQueryUserToken.
extern const ServicePlatform kWin32ServicePlatform;

// The Win32 reading of a pipe client's identity: ImpersonateNamedPipeClient,
// the thread token's TokenSessionId, TokenUser and CheckTokenMembership, then
// RevertToSelf.
bool IdentifyPipeClient(HANDLE pipe, ClientIdentity* identity);

}  // namespace quenvar
