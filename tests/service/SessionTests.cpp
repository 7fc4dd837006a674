#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "ServiceTestSupport.h"
#include "service/Session.h"
#include "service/SessionTable.h"
#include "support/StandInDriverClient.h"

using namespace quenvar;
using standin::MakeEvent;

namespace {

AccessEvent Event(uint32_t id) { return MakeEvent(id, kKeyboardHook, 7, L"\\Device\\X\\a.exe", L"\\Device\\X\\a.exe"); }

DWORD MillisecondsWaited(Session& session, DWORD limit) {
    return quenvar::test::MillisecondsOf([&] { session.WaitForEvents(limit); });
}

}  // namespace

TEST(SessionTable, SessionEntersItselfAndLeavesWhenDestroyed) {
    SessionTable table;
    EXPECT_EQ(table.Find(3), nullptr);
    auto session = std::make_unique<Session>(table, 3);
    EXPECT_EQ(table.Find(3), session.get());
    EXPECT_EQ(table.FindOrCreate(3), session.get());
    session.reset();
    EXPECT_EQ(table.Find(3), nullptr);
}

TEST(SessionTable, FindOrCreateMakesOneSessionPerId) {
    SessionTable table;
    std::unique_ptr<Session> a(table.FindOrCreate(1));
    std::unique_ptr<Session> b(table.FindOrCreate(2));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->id(), 1u);
    EXPECT_EQ(table.FindOrCreate(1), a.get());
}

TEST(SessionTable, ConcurrentFindOrCreateOfOneIdYieldsOneSession) {
    SessionTable table;
    std::vector<Session*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            for (int k = 0; k < 200; ++k) seen[i] = table.FindOrCreate(42);
        });
    for (auto& t : threads) t.join();
    for (Session* s : seen) EXPECT_EQ(s, seen[0]);
    std::unique_ptr<Session> made(seen[0]);
}

TEST(SessionQueue, KeepsEventsInOrderAndPeekLeavesThemQueued) {
    SessionTable table;
    Session session(table, 0);
    AccessEvent out = {};
    EXPECT_FALSE(session.PeekFront(&out));
    for (uint32_t id = 1; id <= 3; ++id) session.Enqueue(Event(id));
    ASSERT_TRUE(session.PeekFront(&out));
    EXPECT_EQ(out.eventId, 1u);
    ASSERT_TRUE(session.PeekFront(&out));
    EXPECT_EQ(out.eventId, 1u);
    EXPECT_EQ(session.QueuedEvents(), 3u);
    session.PopFront();
    ASSERT_TRUE(session.PeekFront(&out));
    EXPECT_EQ(out.eventId, 2u);
    const AccessEvent second = Event(2);
    EXPECT_EQ(std::memcmp(&out, &second, sizeof(out)), 0);
    session.PopFront();
    session.PopFront();
    session.PopFront();  // popping an empty queue is harmless
    EXPECT_FALSE(session.PeekFront(&out));
}

TEST(SessionQueue, EventsAvailableStaysSetUntilTheQueueEmpties) {
    SessionTable table;
    Session session(table, 0);
    EXPECT_GE(MillisecondsWaited(session, 100), 90u);
    session.Enqueue(Event(1));
    session.Enqueue(Event(2));
    EXPECT_LT(MillisecondsWaited(session, 2000), 1000u);
    session.PopFront();
    EXPECT_LT(MillisecondsWaited(session, 2000), 1000u);  // one left
    session.PopFront();
    EXPECT_GE(MillisecondsWaited(session, 100), 90u);
}

TEST(SessionWorkers, AttachAdmitsOneWorkerAndDetachRemembersIt) {
    SessionTable table;
    Session session(table, 0);
    EXPECT_EQ(session.AttachedWorker(), 0u);
    EXPECT_TRUE(session.Attach(11));
    EXPECT_FALSE(session.Attach(12));
    EXPECT_EQ(session.AttachedWorker(), 11u);
    session.Detach();
    EXPECT_EQ(session.AttachedWorker(), 0u);
    EXPECT_EQ(session.LastWorker(), 11u);
    session.Detach();  // nothing attached: the last worker is kept
    EXPECT_EQ(session.LastWorker(), 11u);
    EXPECT_TRUE(session.Attach(12));
}

TEST(SessionWorkers, SimultaneousAttachesServeExactlyOne) {
    for (int round = 0; round < 50; ++round) {
        SessionTable table;
        Session session(table, 0);
        std::atomic<int> admitted{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (uint32_t i = 1; i <= 4; ++i)
            threads.emplace_back([&, i] {
                while (!go) {
                }
                if (session.Attach(i)) ++admitted;
            });
        go = true;
        for (auto& t : threads) t.join();
        ASSERT_EQ(admitted.load(), 1);
    }
}
