#include "service/HelloCheck.h"

namespace quenvar {

bool IsGuardCommand(ClientHello hello) { return hello == EnableGuardCode || hello == DisableGuardCode; }

bool IsServiceAccount(const std::wstring& user) {
    return user == L"S-1-5-18" || user == L"S-1-5-19" || user == L"S-1-5-20";
}

HelloVerdict JudgeHello(ClientHello hello, const std::optional<ClientIdentity>& client,
                        const std::optional<ClaimedProcess>& claimed) {
    if (IsGuardCommand(hello))
        return client && client->administrator ? HelloVerdict::kRunCommand : HelloVerdict::kDropCommand;
    // The events of a session are its user's: only that user's own program may
    // read and answer them. One session can hold processes of several accounts
    // (services, scheduled tasks), so the session alone does not say who.
    if (!client || !claimed || client->user.empty() || IsServiceAccount(client->user))
        return HelloVerdict::kRefuse;
    const bool ownSession = claimed->sessionId == client->sessionId;
    const bool ownProcess = claimed->user == client->user;
    const bool sessionsUser = claimed->sessionUser == client->user;
    return ownSession && ownProcess && sessionsUser ? HelloVerdict::kServe : HelloVerdict::kRefuse;
}

}  // namespace quenvar
