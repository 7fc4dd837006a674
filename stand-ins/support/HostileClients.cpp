#include "support/HostileClients.h"

#include <utility>

#include "common/PipeProtocol.h"

namespace quenvar::standin {
namespace {

constexpr size_t kHeldConnections = 8;

}  // namespace

HostileProgram::HostileProgram(const wchar_t* pipeName, StormHellos hellos, std::vector<Hostile> kinds,
                               unsigned seed)
    : pipeName_(pipeName), hellos_(hellos), kinds_(std::move(kinds)), random_(seed) {}

int HostileProgram::Attack(int count) {
    int opened = 0;
    for (int i = 0; i < count; ++i) opened += One(kinds_[i % kinds_.size()]);
    return opened;
}

bool HostileProgram::One(Hostile kind) {
    auto client = std::make_unique<ServiceClient>(pipeName_);
    if (!client->connected()) return false;
    const uint8_t rubbish[8] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};
    switch (kind) {
    case Hostile::kNoBytes:
    case Hostile::kIdle:
        break;
    case Hostile::kFewBytes:
        client->Write(rubbish, 1 + random_() % 3);
        break;
    case Hostile::kRandomHello:
        client->WriteU32(static_cast<uint32_t>(random_()) | 0x80000000u);
        client->ReadU32();
        break;
    case Hostile::kOtherSession:
        client->WriteU32(hellos_.otherSession);
        client->ReadU32();
        break;
    case Hostile::kNoSuchProcess:
        client->WriteU32(hellos_.noSuchProcess);
        client->ReadU32();
        break;
    case Hostile::kGuardCommand:
        client->WriteU32(random_() % 2 ? DisableGuardCode : EnableGuardCode);
        client->ReadU32();
        break;
    case Hostile::kStatusNeverReadsEvents:
    case Hostile::kGarbageReply:
    case Hostile::kShortReply:
    case Hostile::kCloseMidEvent:
        client->WriteU32(hellos_.ownProcess);
        client->ReadU32();
        if (kind == Hostile::kGarbageReply) client->Write(rubbish, 8);
        if (kind == Hostile::kShortReply) client->Write(rubbish, 5);
        break;
    }
    if (kind == Hostile::kIdle || kind == Hostile::kStatusNeverReadsEvents) {
        held_.push_back(std::move(client));
        if (held_.size() > kHeldConnections) held_.pop_front();
    }
    return true;
}

}  // namespace quenvar::standin
