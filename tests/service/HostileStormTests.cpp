// A storm of hostile clients against a real pipe server and its workers in this
// process, with the platform seam saying who each client is: every client is a
// user of session 1 without administrator rights, so guard commands and claims
// of other sessions' processes are refused here as they would be on Windows.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "FakeServicePlatform.h"
#include "PipeTestClient.h"
#include "ServiceTestSupport.h"
#include "common/PipeProtocol.h"
#include "service/EventPump.h"
#include "service/PipeServer.h"
#include "service/Session.h"
#include "support/HostileClients.h"
#include "support/ProcessCounts.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::test;

TEST(HostileStorm, EveryKindOfHostileClientAtOnceLeavesTheLegitimateClientServed) {
    FakeDriver::Get().Reset();
    FakeDriver::Get().SetClientIdentity(ClientOf(1, false));
    static ServiceContext service(kFakeServicePlatform);  // its server runs for the rest of the program
    service.driverStatus = ExpectedDriverStatus;
    service.guardEnabled = 1;
    service.limits.helloMs = 300;
    service.limits.eventTakenMs = 300;
    static const std::wstring name = UniquePipeName();
    std::thread([] { RunPipeServer(name.c_str(), service); }).detach();
    ASSERT_TRUE(standin::WaitForPipe(name.c_str(), 5000));

    PipeClient legitimate(name.c_str());
    ASSERT_TRUE(legitimate.WriteU32(ProcessInSession(1, 7)));
    ASSERT_EQ(legitimate.ReadU32(), std::optional<uint32_t>(ExpectedDriverStatus));
    ASSERT_TRUE(WaitUntil([] { return service.sessions.FindOrCreate(1)->AttachedWorker() != 0; }));
    const DWORD self = GetCurrentProcessId();
    const DWORD threadsBefore = standin::ThreadCount(self);
    const DWORD handlesBefore = standin::HandleCount(self);

    const standin::StormHellos hellos{ProcessInSession(1, 9), ProcessInSession(2, 9), NoSuchProcess(1)};
    const std::vector<standin::Hostile> kinds = {
        standin::Hostile::kNoBytes,       standin::Hostile::kFewBytes,     standin::Hostile::kRandomHello,
        standin::Hostile::kOtherSession,  standin::Hostile::kNoSuchProcess, standin::Hostile::kGuardCommand,
        standin::Hostile::kIdle,          standin::Hostile::kStatusNeverReadsEvents,
        standin::Hostile::kGarbageReply,  standin::Hostile::kShortReply,   standin::Hostile::kCloseMidEvent,
    };
    // Forty connections each meet every kind at least twelve times over all
    // programs: a thread or handle left behind by one kind outgrows the slack.
    constexpr int kPrograms = 4, kConnectionsEach = 40;
    std::atomic<int> connections{0};
    std::vector<std::thread> hostiles;
    for (unsigned program = 0; program < kPrograms; ++program)
        hostiles.emplace_back([&, program] {
            standin::HostileProgram hostile(name.c_str(), hellos, kinds, 77 + program);
            connections += hostile.Attack(kConnectionsEach);
        });

    // The pump's side: events of session 1 (and of session 2, which nobody may read).
    constexpr uint32_t kEvents = 300;
    std::vector<AccessEvent> events;
    for (uint32_t id = 1; id <= kEvents; ++id)
        events.push_back(standin::MakeEvent(id, kKeyboardHook, ProcessInSession(1, 3), L"\\Device\\X\\p.exe",
                                            L"\\Device\\X\\m.dll", id));
    std::thread pump([&] {
        for (const AccessEvent& event : events) {
            RouteEvent(event, FakeDeviceHandle(), service);
            RouteEvent(standin::MakeEvent(100000 + event.eventId, kKeyboardHook, ProcessInSession(2, 3),
                                          L"\\Device\\X\\other.exe", L"\\Device\\X\\other.exe"),
                       FakeDeviceHandle(), service);
            if (event.eventId % 20 == 0) Sleep(20);
        }
    });
    for (const AccessEvent& expected : events) {
        auto got = legitimate.ReadEvent();
        ASSERT_TRUE(got.has_value()) << expected.eventId;
        ASSERT_EQ(std::memcmp(&*got, &expected, sizeof(expected)), 0) << expected.eventId;
        ASSERT_TRUE(legitimate.WriteReply(got->eventId, ~got->eventId));
    }
    pump.join();
    for (auto& t : hostiles) t.join();
    EXPECT_GE(connections.load(), kPrograms * kConnectionsEach - 8);

    // The replies, byte for byte and in order, and nothing else reached the
    // driver: no guard request, no answer to session 2's events.
    ASSERT_TRUE(FakeDriver::Get().WaitForReplies(kEvents, 10000));
    const auto requests = FakeDriver::Get().Requests();
    ASSERT_EQ(requests.size(), kEvents);
    for (uint32_t i = 0; i < kEvents; ++i) {
        const AccessReply expected{i + 1, ~(i + 1)};
        ASSERT_EQ(requests[i].code, IOCTL_REPLY);
        ASSERT_EQ(requests[i].input.size(), sizeof(AccessReply));
        EXPECT_EQ(std::memcmp(requests[i].input.data(), &expected, sizeof(expected)), 0) << i;
    }
    EXPECT_EQ(service.guardEnabled.load(), 1);
    EXPECT_EQ(service.sessions.FindOrCreate(2)->QueuedEvents(), kEvents);
    EXPECT_EQ(service.sessions.FindOrCreate(2)->AttachedWorker(), 0u);

    // Held connections run out of time; the workers end and leave nothing behind.
    const bool settled = WaitUntil(
        [&] {
            return standin::ThreadCount(self) <= threadsBefore + 1 && standin::HandleCount(self) <= handlesBefore + 4;
        },
        20000);
    EXPECT_TRUE(settled) << "threads " << threadsBefore << " -> " << standin::ThreadCount(self) << ", handles "
                         << handlesBefore << " -> " << standin::HandleCount(self);

    // The legitimate client leaves; a fresh one of its session is served.
    legitimate.Close();
    ASSERT_TRUE(WaitUntil([] { return service.sessions.FindOrCreate(1)->AttachedWorker() == 0; }));
    PipeClient fresh(name.c_str());
    ASSERT_TRUE(fresh.WriteU32(ProcessInSession(1, 8)));
    ASSERT_EQ(fresh.ReadU32(), std::optional<uint32_t>(ExpectedDriverStatus));
    const AccessEvent last = standin::MakeEvent(kEvents + 1, kScreenAccess, ProcessInSession(1, 3), L"a", L"b");
    ASSERT_TRUE(WaitUntil([] { return service.sessions.FindOrCreate(1)->AttachedWorker() != 0; }));
    RouteEvent(last, FakeDeviceHandle(), service);
    auto got = fresh.ReadEvent();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->eventId, kEvents + 1);
    FakeDriver::Get().SetClientIdentity(ClientOf(1, true));
}
