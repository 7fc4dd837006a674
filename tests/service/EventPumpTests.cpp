#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FakeServicePlatform.h"
#include "ServiceTestSupport.h"
#include "service/EventPump.h"
#include "service/Session.h"
#include "support/StandInDriverClient.h"

using namespace quenvar;
using namespace quenvar::test;
using standin::MakeEvent;

namespace {

class EventPumpTest : public ::testing::Test {
protected:
    void SetUp() override { FakeDriver::Get().Reset(); }
    void TearDown() override { DeleteSessions(service.sessions); }
    AccessEvent Event(uint32_t id, uint32_t kind, uint32_t session) {
        return MakeEvent(id, kind, ProcessInSession(session), L"\\Device\\HarddiskVolume1\\spy.exe",
                         L"\\Device\\HarddiskVolume1\\spy.dll", 99);
    }
    ServiceContext service{kFakeServicePlatform};
    HANDLE device = FakeDeviceHandle();
};

}  // namespace

TEST_F(EventPumpTest, ScreenAccessWithoutClientIsDeniedAtOnceAndStaysQueued) {
    RouteEvent(Event(5, kScreenAccess, 0), device, service);
    const auto replies = FakeDriver::Get().Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].eventId, 5u);
    EXPECT_EQ(replies[0].allow, 0u);
    EXPECT_EQ(FakeDriver::Get().Requests()[0].device, device);
    Session* session = service.sessions.Find(0);
    ASSERT_NE(session, nullptr);
    AccessEvent queued;
    ASSERT_TRUE(session->PeekFront(&queued));
    EXPECT_EQ(queued.eventId, 5u);
}

TEST_F(EventPumpTest, HookAndTextEventsWithoutClientWaitUnanswered) {
    RouteEvent(Event(1, kKeyboardHook, 0), device, service);
    RouteEvent(Event(2, kForeignTextAccess, 0), device, service);
    RouteEvent(Event(3, 7, 0), device, service);  // unknown kinds are not answered either
    EXPECT_TRUE(FakeDriver::Get().Replies().empty());
    EXPECT_EQ(service.sessions.Find(0)->QueuedEvents(), 3u);
}

TEST_F(EventPumpTest, ScreenAccessOfServedSessionIsLeftToItsClient) {
    Session* session = service.sessions.FindOrCreate(2);
    ASSERT_TRUE(session->Attach(1234));
    RouteEvent(Event(9, kScreenAccess, 2), device, service);
    EXPECT_TRUE(FakeDriver::Get().Replies().empty());
    EXPECT_EQ(session->QueuedEvents(), 1u);
    // Another session without a client still gets the immediate deny.
    RouteEvent(Event(10, kScreenAccess, 3), device, service);
    ASSERT_EQ(FakeDriver::Get().Replies().size(), 1u);
    EXPECT_EQ(FakeDriver::Get().Replies()[0].eventId, 10u);
}

TEST_F(EventPumpTest, EventsGoToTheSessionOfTheirProcessInDriverOrder) {
    RouteEvent(Event(1, kKeyboardHook, 1), device, service);
    RouteEvent(Event(2, kKeyboardHook, 4), device, service);
    RouteEvent(Event(3, kKeyboardHook, 1), device, service);
    Session* one = service.sessions.Find(1);
    Session* four = service.sessions.Find(4);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(four, nullptr);
    AccessEvent e;
    ASSERT_TRUE(one->PeekFront(&e));
    EXPECT_EQ(e.eventId, 1u);
    one->PopFront(1);
    ASSERT_TRUE(one->PeekFront(&e));
    EXPECT_EQ(e.eventId, 3u);
    EXPECT_EQ(four->QueuedEvents(), 1u);
    EXPECT_EQ(service.sessions.Find(0), nullptr);
}

TEST_F(EventPumpTest, OnePassWaitsThenFetchesThenRoutesTheDriversBytes) {
    const AccessEvent event = Event(77, kForeignTextAccess, 1);
    FakeDriver::Get().QueueEvent(event);
    AccessEvent buffer = {};
    PumpOneEvent(device, service, &buffer);
    const auto requests = FakeDriver::Get().Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, IOCTL_WAIT_EVENT);
    EXPECT_EQ(requests[1].code, IOCTL_GET_EVENT);
    AccessEvent queued;
    ASSERT_TRUE(service.sessions.Find(1)->PeekFront(&queued));
    EXPECT_EQ(std::memcmp(&queued, &event, sizeof(event)), 0);
}

TEST_F(EventPumpTest, FailedFetchDoesNotRouteTheOldBufferAgain) {
    FakeDriver::Get().QueueEvent(Event(1, kScreenAccess, 0));
    AccessEvent buffer = {};
    PumpOneEvent(device, service, &buffer);
    FakeDriver::Get().failFetch = true;
    PumpOneEvent(device, service, &buffer);
    EXPECT_EQ(service.sessions.Find(0)->QueuedEvents(), 1u);
    EXPECT_EQ(FakeDriver::Get().Replies().size(), 1u);
}

TEST_F(EventPumpTest, EventOfAProcessThatHasGoneStillGoesToSessionZero) {
    RouteEvent(Event(12, kScreenAccess, 0), device, service);  // session 0 known
    AccessEvent gone = Event(13, kKeyboardHook, 0);
    gone.processId = NoSuchProcess(3);
    RouteEvent(gone, device, service);
    EXPECT_EQ(service.sessions.Find(0)->QueuedEvents(), 2u);
    EXPECT_EQ(service.sessions.Find(3), nullptr);
}

// Ten times the bound into a session without a client: every event is answered
// exactly once, overflowed ones with "deny", and the newest bound's worth stay
// queued in order. A small bound shows what the service's shows: nine bounds'
// worth dropped, screen accesses among the kept and the dropped ones.
TEST_F(EventPumpTest, AFullQueueDeniesWhatItDropsExactlyOnce) {
    const uint32_t bound = 16, total = 10 * bound;
    Session* session = new Session(service.sessions, 1, bound);  // deleted with the table's sessions
    for (uint32_t id = 1; id <= total; ++id)
        RouteEvent(Event(id, id % 7 == 0 ? kScreenAccess : kKeyboardHook, 1), device, service);
    ASSERT_EQ(service.sessions.Find(1), session);
    EXPECT_EQ(session->QueuedEvents(), bound);
    EXPECT_EQ(session->DroppedEvents(), total - bound);

    std::vector<int> answers(total + 1, 0);
    for (const AccessReply& reply : FakeDriver::Get().Replies()) {
        ASSERT_GE(reply.eventId, 1u);
        ASSERT_LE(reply.eventId, total);
        EXPECT_EQ(reply.allow, 0u);
        ++answers[reply.eventId];
    }
    for (uint32_t id = 1; id <= total; ++id) {
        // Dropped ones, and screen accesses denied at once, once each; the kept
        // keyboard events wait for a client.
        const bool kept = id > total - bound;
        const int expected = (kept && id % 7 != 0) ? 0 : 1;
        ASSERT_EQ(answers[id], expected) << id;
    }
    for (uint32_t id = total - bound + 1; id <= total; ++id) {
        AccessEvent front;
        ASSERT_TRUE(session->PeekFront(&front));
        ASSERT_EQ(front.eventId, id);
        session->PopFront(id);
    }
    // The service's own sessions hold 4,096: the next event drops the oldest.
    Session* made = service.sessions.FindOrCreate(2);
    for (uint32_t id = 1; id <= 4097; ++id) ASSERT_TRUE(Put(*made, Event(id, kKeyboardHook, 2)));
    EXPECT_EQ(made->QueuedEvents(), 4096u);
    EXPECT_EQ(made->DroppedEvents(), 1u);
}
