#include "PipeTestClient.h"

#include <atomic>

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
        if (ConnectNamedPipe(instance_, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED)
            ServeClient(instance_, service);
        else
            CloseHandle(instance_);
        SetEvent(done_);
    });
}

ServedConnection::~ServedConnection() {
    if (client_) client_->Close();
    if (worker_.joinable()) {
        if (WaitForSingleObject(done_, 10000) == WAIT_OBJECT_0)
            worker_.join();
        else
            worker_.detach();  // a hung worker fails its test; do not hang the run
    }
    CloseHandle(done_);
}

PipeClient& ServedConnection::Connect() {
    client_.emplace(name_.c_str());
    return *client_;
}

bool ServedConnection::Join(DWORD timeoutMs) {
    if (WaitForSingleObject(done_, timeoutMs) != WAIT_OBJECT_0) return false;
    if (worker_.joinable()) worker_.join();
    return true;
}

}  // namespace quenvar::test
