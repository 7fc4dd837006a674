// The state that the service's threads share: the session table, the driver
// status handed to every client and the registry guard's switch.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "service/ConnectionGate.h"
#include "service/ServicePlatform.h"
#include "service/SessionTable.h"

namespace quenvar {

// How long a client may keep a worker waiting on the pipe.
struct PipeLimits {
    DWORD helloMs = 5000;         // for its whole hello
    DWORD eventTakenMs = 10000;   // to take an event (or the status) off the pipe
    DWORD createRetryMs = 1000;   // pause before creating a pipe instance again
    ConnectionBounds connections;
    // Instances listening at once: while one is being taken, others wait.
    int listeners = 4;
};

struct ServiceContext {
    explicit ServiceContext(const ServicePlatform& platform) : platform(platform), connections(limits.connections) {}

    const ServicePlatform& platform;
    SessionTable sessions;
    PipeLimits limits;
    ConnectionGate connections;
    // Written once at start-up before the pipe server runs; read by every worker.
    std::atomic<uint32_t> driverStatus{0};
    // 1 = the registry guard restores the installation's entries.
    std::atomic<uint8_t> guardEnabled{1};
};

// The one instance of the running service, built by static initialisation.
ServiceContext& TheService();

}  // namespace quenvar
