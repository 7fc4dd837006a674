#include "service/HelloCheck.h"

namespace quenvar {

bool IsGuardCommand(ClientHello hello) { return hello == EnableGuardCode || hello == DisableGuardCode; }

HelloVerdict JudgeHello(ClientHello hello, const std::optional<ClientIdentity>& client,
                        const std::optional<uint32_t>& claimedSession) {
    if (IsGuardCommand(hello))
        return client && client->administrator ? HelloVerdict::kRunCommand : HelloVerdict::kDropCommand;
    // A program may only claim a process of its own session: otherwise it could
    // read another session's events and answer them.
    if (client && claimedSession && *claimedSession == client->sessionId) return HelloVerdict::kServe;
    return HelloVerdict::kRefuse;
}

}  // namespace quenvar
