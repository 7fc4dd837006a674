// Whom the service answers: the decision on a client's hello, apart from the
// Win32 calls that read who the client is. No OS calls.
#pragma once

#include <cstdint>
#include <optional>

#include "common/PipeProtocol.h"
#include "service/ServicePlatform.h"

namespace quenvar {

enum class HelloVerdict {
    kServe,         // a process-id hello from a client of that process's session
    kRefuse,        // any other process-id hello: status, then closed
    kRunCommand,    // a guard command from an administrator or LocalSystem
    kDropCommand,   // a guard command from anyone else: closed, nothing done
};

// client: the identity read from the client's token, absent when it could not
// be read. claimedSession: the session of the process the hello names, absent
// when that process cannot be found.
HelloVerdict JudgeHello(ClientHello hello, const std::optional<ClientIdentity>& client,
                        const std::optional<uint32_t>& claimedSession);

bool IsGuardCommand(ClientHello hello);

}  // namespace quenvar
