#include "PipeTestClient.h"

#include <atomic>
#include <utility>

#include "FakeServicePlatform.h"
#include "service/PipeChannel.h"
#include "service/PipeServer.h"
#include "service/SessionWorker.h"

namespace quenvar::test {

std::wstring UniquePipeName() {
    static std::atomic<int> counter{0};
    return L"\\\\.\\pipe\\QuenvarTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
}

ServedConnection::ServedConnection(ServiceContext& service, std::optional<ClientIdentity> identity)
    : name_(UniquePipeName()),
      instance_(CreateServicePipeInstance(service.platform, name_.c_str(), nullptr, false)),
      done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    worker_ = std::thread([this, &service, identity] {
        FakeDriver::SetThreadClientIdentity(identity);
        UniqueHandle instance = std::move(instance_);
        if (PipeChannel(instance.get()).AwaitClient()) ServeClient(std::move(instance), service);
        SetEvent(done_.get());
    });
}

ServedConnection::~ServedConnection() {
    if (client_) client_->Close();
    if (worker_.joinable()) {
        if (WaitForSingleObject(done_.get(), 10000) == WAIT_OBJECT_0)
            worker_.join();
        else
            worker_.detach();  // a hung worker fails its test; do not hang the run
    }
}

PipeClient& ServedConnection::Connect() {
    client_.emplace(name_.c_str());
    return *client_;
}

bool ServedConnection::Join(DWORD timeoutMs) {
    if (WaitForSingleObject(done_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    if (worker_.joinable()) worker_.join();
    return true;
}

}  // namespace quenvar::test
