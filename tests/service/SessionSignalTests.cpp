// The queue's event is set exactly while the queue holds something: the worker
// relies on it to wait only when idle, and Enqueue sets it only when the queue
// was empty.
#include <gtest/gtest.h>

#include <optional>

#include "ServiceTestSupport.h"
#include "service/Session.h"
#include "service/SessionTable.h"
#include "support/StandInDriverClient.h"

using namespace quenvar;

namespace {

AccessEvent Event(uint32_t id) {
    return standin::MakeEvent(id, kKeyboardHook, 7, L"\\Device\\X\\a.exe", L"\\Device\\X\\a.exe");
}

// True when the queue's event is set: a wait on it returns at once.
bool Signaled(Session& session) {
    return quenvar::test::MillisecondsOf([&] { session.WaitForEvents(400); }) < 200;
}

}  // namespace

TEST(SessionSignal, TheEventIsSetExactlyWhileEventsAreQueued) {
    SessionTable table;
    Session session(table, 1, 2);
    std::optional<AccessEvent> dropped;
    struct Step {
        char op;  // 'e' enqueue, 'p' pop
        uint32_t id;
        bool result;
        size_t queued;
    };
    const Step steps[] = {
        {'e', 1, true, 1}, {'e', 2, true, 2},
        {'e', 3, true, 2},   // full: 1 is dropped, the queue stays non-empty
        {'p', 1, false, 2},  // not the front any more
        {'p', 2, true, 1}, {'p', 3, true, 0},
        {'p', 3, false, 0},  // nothing left to pop
        {'e', 4, true, 1},   // empty to non-empty sets it again
        {'p', 4, true, 0},
    };
    EXPECT_FALSE(Signaled(session));
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << step.op << step.id);
        const bool result = step.op == 'e' ? session.Enqueue(Event(step.id), false, &dropped) : session.PopFront(step.id);
        EXPECT_EQ(result, step.result);
        EXPECT_EQ(session.QueuedEvents(), step.queued);
        EXPECT_EQ(Signaled(session), step.queued != 0);
    }
    EXPECT_EQ(session.DroppedEvents(), 1u);
}
