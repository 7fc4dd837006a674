// A service pipe instance served by a real ServeClient on its own thread, and the
// client end of it, for worker tests inside one process.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <thread>

#include "common/DriverInterface.h"
#include "common/UniqueResource.h"
#include "FakeServicePlatform.h"
#include "service/ServiceContext.h"
#include "support/ServicePipeClient.h"

namespace quenvar::test {

std::wstring UniquePipeName();

// The client end: exact-size reads and writes, as the protocol wants them.
using PipeClient = standin::ServiceClient;

// One served connection: the instance is created at once; the worker thread
// connects it and runs ServeClient. Join() waits for the worker to end. The
// fake platform reports `identity` as the client's (none: unreadable).
class ServedConnection {
public:
    explicit ServedConnection(ServiceContext& service,
                              std::optional<ClientIdentity> identity = ClientOf(1, true));
    ~ServedConnection();
    PipeClient& client() { return *client_; }
    // Connects the client (after the instance exists).
    PipeClient& Connect();
    // Waits at most timeoutMs for the worker; true when it has ended.
    bool Join(DWORD timeoutMs = 5000);

private:
    std::wstring name_;
    UniqueHandle instance_;  // handed to the worker
    UniqueHandle done_;
    std::thread worker_;
    std::optional<PipeClient> client_;
};

}  // namespace quenvar::test
