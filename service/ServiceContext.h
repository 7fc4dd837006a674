// The state that the service's threads share: the session table, the driver
// status handed to every client and the registry guard's switch.
#pragma once

#include <atomic>
#include <cstdint>

#include "service/ServicePlatform.h"
#include "service/SessionTable.h"

namespace quenvar {

struct ServiceContext {
    explicit ServiceContext(const ServicePlatform& platform) : platform(platform) {}

    const ServicePlatform& platform;
    SessionTable sessions;
    // Written once at start-up before the pipe server runs; read by every worker.
    std::atomic<uint32_t> driverStatus{0};
    // 1 = the registry guard restores the installation's entries.
    std::atomic<uint8_t> guardEnabled{1};
};

// The one instance of the running service, built by static initialisation.
ServiceContext& TheService();

}  // namespace quenvar
