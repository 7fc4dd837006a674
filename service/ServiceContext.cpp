#include "service/ServiceContext.h"

namespace quenvar {

ServiceContext& TheService() {
    static ServiceContext service(kWin32ServicePlatform);
    return service;
}

namespace {
// Build the table and its lock before the entry point runs.
const ServiceContext& kBuiltAtStart = TheService();
}  // namespace

}  // namespace quenvar
