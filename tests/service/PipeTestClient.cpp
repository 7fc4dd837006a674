#include "PipeTestClient.h"

#include <atomic>
#include <utility>

#include "service/PipeServer.h"
#include "service/SessionWorker.h"

namespace quenvar::test {

std::wstring UniquePipeName() {
    static std::atomic<int> counter{0};
    return L"\\\\.\\pipe\\QuenvarTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
}

ServedConnection::ServedConnection(ServiceContext& service)
    : name_(UniquePipeName()),
      instance_(CreateServicePipeInstance(name_.c_str(), nullptr)),
      done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    worker_ = std::thread([this, &service] {
        UniqueHandle instance = std::move(instance_);
        if (ConnectNamedPipe(instance.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED)
            ServeClient(std::move(instance), service);
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
