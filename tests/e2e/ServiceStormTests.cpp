// The running service under a storm of hostile clients while the legitimate
// client of the session is served. Under Wine every program is an administrator
// and all sit in one session, so the refusals that depend on another session or
// on a user without rights are shown below the platform seam (ServiceTests);
// here the hostile programs are what any local program can be.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "E2eSupport.h"
#include "common/PipeProtocol.h"
#include "support/HostileClients.h"
#include "support/ProcessCounts.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::e2e;
using standin::MakeEvent;

namespace {

// Forty connections each meet every kind at least twelve times over all programs:
// a thread or handle left behind by one kind outgrows the slack of the settling.
constexpr int kHostilePrograms = 4;
constexpr int kConnectionsEach = 40;
constexpr uint32_t kEvents = 200;

// Every kind a program of this session can be under Wine. A guard command from
// a user without rights, and a client of another session, need the platform
// seam (ServiceTests' storm); here every program is an administrator.
const std::vector<standin::Hostile> kKinds = {
    standin::Hostile::kNoBytes,      standin::Hostile::kFewBytes,      standin::Hostile::kRandomHello,
    standin::Hostile::kNoSuchProcess, standin::Hostile::kIdle,         standin::Hostile::kStatusNeverReadsEvents,
    standin::Hostile::kGarbageReply, standin::Hostile::kShortReply,    standin::Hostile::kCloseMidEvent,
};

bool SameBytes(const std::optional<AccessEvent>& a, const AccessEvent& b) {
    return a && std::memcmp(&*a, &b, sizeof(b)) == 0;
}

AccessEvent Event(uint32_t id) {
    return MakeEvent(id, id % 3, GetCurrentProcessId(), L"\\Device\\HarddiskVolume1\\spy\\spy.exe",
                     L"\\Device\\HarddiskVolume1\\spy\\hook.dll", 77);
}

}  // namespace

TEST(ServiceStorm, HostileClientsNeitherStallNorStarveTheLegitimateClient) {
    ASSERT_TRUE(InstallDriverAndService());
    standin::StandInDriverClient driver;
    ASSERT_TRUE(driver.ok());
    ASSERT_EQ(driver.WaitForJournal(1, 5000).size(), 1u);  // the registration
    const DWORD service = standin::ServiceProcessId(L"QuenvarSvc");
    ASSERT_NE(service, 0u);

    ServiceClient legitimate;
    ASSERT_EQ(legitimate.Hello(), std::optional<uint32_t>(ExpectedDriverStatus));
    Sleep(500);
    const DWORD threadsBefore = standin::ThreadCount(service);
    const DWORD handlesBefore = standin::HandleCount(service);
    ASSERT_GT(threadsBefore, 0u);
    ASSERT_GT(handlesBefore, 0u);

    std::atomic<int> connections{0};
    const standin::StormHellos hellos{GetCurrentProcessId(), GetCurrentProcessId(), 0x7FFFFFF0u};
    std::vector<std::thread> hostiles;
    for (int program = 0; program < kHostilePrograms; ++program)
        hostiles.emplace_back([&, program] {
            standin::HostileProgram hostile(kPipeName, hellos, kKinds, 1234 + program);
            connections += hostile.Attack(kConnectionsEach);
        });

    // Meanwhile the legitimate client answers every event, in driver order.
    std::vector<AccessEvent> events;
    for (uint32_t id = 1; id <= kEvents; ++id) events.push_back(Event(id));
    std::thread injector([&] {
        for (size_t i = 0; i < events.size(); i += 10) {
            driver.Inject(std::vector<AccessEvent>(events.begin() + i, events.begin() + i + 10));
            Sleep(50);
        }
    });
    for (const AccessEvent& expected : events) {
        auto got = legitimate.ReadEvent();
        ASSERT_TRUE(SameBytes(got, expected)) << expected.eventId;
        ASSERT_TRUE(legitimate.WriteReply(got->eventId, got->eventId * 0x01010101u));
    }
    injector.join();
    for (auto& t : hostiles) t.join();
    EXPECT_GE(connections.load(), kHostilePrograms * kConnectionsEach - 8);

    // Every reply reached the driver byte for byte and in order; the hostile
    // clients sent nothing there.
    const auto journal = driver.WaitForJournal(kEvents, 20000);
    ASSERT_EQ(journal.size(), kEvents);
    for (uint32_t i = 0; i < kEvents; ++i) {
        ASSERT_EQ(journal[i].kind, JOURNAL_REPLY);
        ASSERT_EQ(journal[i].length, sizeof(AccessReply));
        const AccessReply reply = standin::ReplyOf(journal[i]);
        EXPECT_EQ(reply.eventId, i + 1);
        EXPECT_EQ(reply.allow, (i + 1) * 0x01010101u);
    }

    // Idle connections are closed by the service within its limits; afterwards
    // it is back near where it started.
    const bool settled = WaitFor(
        [&] {
            return standin::ThreadCount(service) <= threadsBefore + 2 &&
                   standin::HandleCount(service) <= handlesBefore + 8;
        },
        30000);
    EXPECT_TRUE(settled) << "threads " << threadsBefore << " -> " << standin::ThreadCount(service) << ", handles "
                         << handlesBefore << " -> " << standin::HandleCount(service);

    // The legitimate client leaves, and its worker ends; a fresh one is served.
    const DWORD threadsServed = standin::ThreadCount(service);
    legitimate.Close();
    ASSERT_TRUE(WaitFor([&] { return standin::ThreadCount(service) < threadsServed; }, 5000));
    ServiceClient fresh;
    ASSERT_EQ(fresh.Hello(), std::optional<uint32_t>(ExpectedDriverStatus));
    const AccessEvent last = Event(kEvents + 1);
    ASSERT_TRUE(driver.Inject(last));
    EXPECT_TRUE(SameBytes(fresh.ReadEvent(), last));
    EXPECT_EQ(standin::ServiceState(L"QuenvarSvc"), static_cast<DWORD>(SERVICE_RUNNING));
}
