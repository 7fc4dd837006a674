#include "support/ServicePipeClient.h"

#include "common/PipeProtocol.h"

namespace quenvar::standin {

ServiceClient::ServiceClient(const wchar_t* pipeName) {
    const wchar_t* name = pipeName != nullptr ? pipeName : kPipeName;
    // The service creates its next instance right after a connection.
    for (int attempt = 0; attempt < 100 && !pipe_.valid(); ++attempt) {
        pipe_.reset(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!pipe_.valid()) Sleep(20);
    }
}

bool ServiceClient::Write(const void* data, DWORD size) {
    DWORD moved = 0;
    return WriteFile(pipe_.get(), data, size, &moved, nullptr) && moved == size;
}

bool ServiceClient::Read(void* data, DWORD size) {
    DWORD moved = 0;
    return ReadFile(pipe_.get(), data, size, &moved, nullptr) && moved == size;
}

std::optional<uint32_t> ServiceClient::ReadU32() {
    uint32_t value = 0;
    if (!Read(&value, sizeof(value))) return std::nullopt;
    return value;
}

std::optional<AccessEvent> ServiceClient::ReadEvent() {
    AccessEvent event;
    if (!Read(&event, sizeof(event))) return std::nullopt;
    return event;
}

std::optional<uint32_t> ServiceClient::Hello() {
    if (!WriteU32(GetCurrentProcessId())) return std::nullopt;
    return ReadU32();
}

}  // namespace quenvar::standin
