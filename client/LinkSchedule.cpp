#include "client/LinkSchedule.h"

#include <algorithm>
#include <utility>

#include "common/PipeProtocol.h"

namespace quenvar {

LinkSchedule::LinkSchedule(const ServiceLinkTiming& timing) : timing_(timing), pauseMs_(timing.firstPauseMs) {}

DWORD LinkSchedule::NextPause() {
    const DWORD pause = std::min(pauseMs_, timing_.longestPauseMs);
    pauseMs_ = std::min(pause * 2, timing_.longestPauseMs);
    return pause;
}

void LinkSchedule::ConnectionEnded(DWORD lastedMs) {
    if (lastedMs >= timing_.steadyLinkMs) pauseMs_ = timing_.firstPauseMs;
}

bool LinkSchedule::NoServiceDue(DWORD sinceStartMs) {
    if (answered_ || noServiceShown_ || sinceStartMs < timing_.noServiceAfterMs) return false;
    noServiceShown_ = true;
    return true;
}

bool LinkSchedule::StatusErrorDue(uint32_t status) {
    answered_ = true;
    if (status == ExpectedDriverStatus || statusShown_) return false;
    statusShown_ = true;
    return true;
}

bool LinkSchedule::SuspendedDue() {
    if (suspended_) return false;
    suspended_ = true;
    return true;
}

bool LinkSchedule::BackDue() {
    if (!suspended_) return false;
    suspended_ = false;
    return true;
}

bool LinkSchedule::ImpostorDue() { return !std::exchange(impostorShown_, true); }

}  // namespace quenvar
