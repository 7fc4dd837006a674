// Whom the service answers: the decision on a client's hello, apart from the
// Win32 calls that read who the client is. No OS calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/PipeProtocol.h"
#include "service/ServicePlatform.h"

namespace quenvar {

enum class HelloVerdict {
    kServe,         // a process-id hello from the session's user, naming a process of theirs
    kRefuse,        // any other process-id hello: status, then closed
    kRunCommand,    // a guard command from an administrator or LocalSystem
    kDropCommand,   // a guard command from anyone else: closed, nothing done
};

// What is known of the process a hello names. An empty user is one that could
// not be read.
struct ClaimedProcess {
    uint32_t sessionId = 0;
    std::wstring user;         // the user of the process's token
    std::wstring sessionUser;  // the user logged on to its session; empty: nobody
};

// client: the identity read from the client's token, absent when it could not
// be read. claimed: absent when the named process cannot be found.
HelloVerdict JudgeHello(ClientHello hello, const std::optional<ClientIdentity>& client,
                        const std::optional<ClaimedProcess>& claimed);

// LocalSystem, LocalService or NetworkService: accounts that never sit at a
// session's desktop, whatever a query says.
bool IsServiceAccount(const std::wstring& user);

bool IsGuardCommand(ClientHello hello);

}  // namespace quenvar
