#include <gtest/gtest.h>

#include <windows.h>
#include <wtsapi32.h>

#include <cstring>
#include <utility>
#include <vector>

#include "FakeServicePlatform.h"
#include "PipeTestClient.h"
#include "ServiceTestSupport.h"
#include "common/PipeProtocol.h"
#include "service/EventPump.h"
#include "service/ServiceHost.h"
#include "service/Session.h"
#include "support/StandInDriverClient.h"

using namespace quenvar;
using namespace quenvar::test;
using standin::MakeEvent;

namespace {

class SessionWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeDriver::Get().Reset();
        service.driverStatus = ExpectedDriverStatus;
    }
    void TearDown() override {
        DeleteSessions(service.sessions);
    }
    AccessEvent Event(uint32_t id, uint32_t session, uint32_t kind = kKeyboardHook) {
        return MakeEvent(id, kind, ProcessInSession(session, id), L"\\Device\\HarddiskVolume1\\p" + std::to_wstring(id),
                         L"\\Device\\HarddiskVolume1\\m" + std::to_wstring(id), 1000 + id);
    }
    Session& SessionOf(uint32_t id) { return *service.sessions.FindOrCreate(id); }
    // Connects a client of the session and reads its status.
    PipeClient& Hello(ServedConnection& connection, uint32_t session) {
        PipeClient& client = connection.Connect();
        EXPECT_TRUE(client.connected());
        EXPECT_TRUE(client.WriteU32(ProcessInSession(session)));
        EXPECT_EQ(client.ReadU32(), std::optional<uint32_t>(ExpectedDriverStatus));
        return client;
    }
    static bool SameBytes(const std::optional<AccessEvent>& a, const AccessEvent& b) {
        return a && std::memcmp(&*a, &b, sizeof(b)) == 0;
    }

    ServiceContext service{kFakeServicePlatform};
};

}  // namespace

TEST_F(SessionWorkerTest, SendsStatusThenQueuedEventsInOrderAndPassesRepliesUnchanged) {
    service.driverStatus = 0x1234;
    const AccessEvent first = Event(1, 1), second = Event(2, 1), third = Event(3, 1);
    Put(SessionOf(1), first);
    Put(SessionOf(1), second);
    Put(SessionOf(2), Event(50, 2));  // another session's event never appears here
    ServedConnection connection(service);
    PipeClient& client = connection.Connect();
    ASSERT_TRUE(client.WriteU32(ProcessInSession(1)));
    EXPECT_EQ(client.ReadU32(), std::optional<uint32_t>(0x1234u));

    EXPECT_TRUE(SameBytes(client.ReadEvent(), first));
    ASSERT_TRUE(client.WriteReply(1, 1));
    EXPECT_TRUE(SameBytes(client.ReadEvent(), second));
    ASSERT_TRUE(client.WriteReply(2, 0));
    // An event that arrives while the client waits is sent too.
    Put(SessionOf(1), third);
    EXPECT_TRUE(SameBytes(client.ReadEvent(), third));
    ASSERT_TRUE(client.WriteReply(3, 7));  // the allow value is not normalised

    ASSERT_TRUE(FakeDriver::Get().WaitForReplies(3, 5000));
    const auto replies = FakeDriver::Get().Replies();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].eventId, 1u);
    EXPECT_EQ(replies[0].allow, 1u);
    EXPECT_EQ(replies[1].eventId, 2u);
    EXPECT_EQ(replies[1].allow, 0u);
    EXPECT_EQ(replies[2].eventId, 3u);
    EXPECT_EQ(replies[2].allow, 7u);
    for (const DriverRequest& r : FakeDriver::Get().Requests()) EXPECT_EQ(r.device, FakeDeviceHandle());
    EXPECT_EQ(SessionOf(1).QueuedEvents(), 0u);
    EXPECT_EQ(SessionOf(2).QueuedEvents(), 1u);
    EXPECT_NE(SessionOf(1).AttachedWorker(), 0u);

    client.Close();
    ASSERT_TRUE(connection.Join());
    EXPECT_EQ(SessionOf(1).AttachedWorker(), 0u);
    EXPECT_NE(SessionOf(1).LastWorker(), 0u);
    EXPECT_EQ(FakeDriver::Get().opens, 1);
    EXPECT_EQ(FakeDriver::Get().closes, 1);
}

TEST_F(SessionWorkerTest, GuardCommandsReceiveNoBytesAndReachTheDriver) {
    struct Case {
        uint32_t hello;
        DWORD code;
        uint8_t flag;
    } cases[] = {{DisableGuardCode, IOCTL_DISABLE_GUARD, 0}, {EnableGuardCode, IOCTL_ENABLE_GUARD, 1}};
    for (const Case& c : cases) {
        FakeDriver::Get().Reset();
        FakeDriver::Get().openDelayMs = 200;
        ServedConnection connection(service);
        PipeClient& client = connection.Connect();
        ASSERT_TRUE(client.WriteU32(c.hello));
        EXPECT_FALSE(client.ReadU32().has_value());
        // Carried out by the time the connection ends: the sender may go on.
        EXPECT_EQ(service.guardEnabled.load(), c.flag);
        EXPECT_EQ(FakeDriver::Get().Requests().size(), 1u);
        ASSERT_TRUE(connection.Join());
        const auto requests = FakeDriver::Get().Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].code, c.code);
        EXPECT_EQ(requests[0].device, FakeDeviceHandle());
        EXPECT_TRUE(requests[0].input.empty());
        EXPECT_EQ(FakeDriver::Get().opens, 1);
        EXPECT_EQ(FakeDriver::Get().closes, 1);
    }
    EXPECT_EQ(service.sessions.Find(0), nullptr);  // a command is no client
}

TEST_F(SessionWorkerTest, GuardCommandStillSwitchesTheGuardWithoutDriver) {
    FakeDriver::Get().failOpen = true;
    ServedConnection connection(service);
    ASSERT_TRUE(connection.Connect().WriteU32(DisableGuardCode));
    ASSERT_TRUE(connection.Join());
    EXPECT_EQ(service.guardEnabled.load(), 0);
    const auto requests = FakeDriver::Get().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].device, nullptr);
}

TEST_F(SessionWorkerTest, SecondClientOfASessionGetsTheStatusAndIsCutOff) {
    ServedConnection first(service);
    PipeClient& a = Hello(first, 1);
    ASSERT_TRUE(WaitUntil([&] { return SessionOf(1).AttachedWorker() != 0; }));

    ServedConnection second(service);
    PipeClient& b = Hello(second, 1);
    EXPECT_FALSE(b.ReadEvent().has_value());
    ASSERT_TRUE(second.Join());

    // The first client keeps every event.
    Put(SessionOf(1), Event(1, 1));
    Put(SessionOf(1), Event(2, 1));
    auto e1 = a.ReadEvent();
    ASSERT_TRUE(e1);
    EXPECT_EQ(e1->eventId, 1u);
    ASSERT_TRUE(a.WriteReply(1, 1));
    auto e2 = a.ReadEvent();
    ASSERT_TRUE(e2);
    EXPECT_EQ(e2->eventId, 2u);
    ASSERT_TRUE(a.WriteReply(2, 1));
    EXPECT_TRUE(FakeDriver::Get().WaitForReplies(2, 5000));
    EXPECT_EQ(FakeDriver::Get().opens, 1);  // the refused worker never opened the driver
}

TEST_F(SessionWorkerTest, WrongEventIdEndsTheConnectionAndLeavesTheEventQueued) {
    Put(SessionOf(1), Event(4, 1));
    ServedConnection connection(service);
    PipeClient& client = Hello(connection, 1);
    ASSERT_TRUE(client.ReadEvent());
    ASSERT_TRUE(client.WriteReply(999, 1));
    ASSERT_TRUE(connection.Join());
    EXPECT_TRUE(FakeDriver::Get().Replies().empty());
    AccessEvent front;
    ASSERT_TRUE(SessionOf(1).PeekFront(&front));
    EXPECT_EQ(front.eventId, 4u);
    EXPECT_EQ(SessionOf(1).AttachedWorker(), 0u);
}

TEST_F(SessionWorkerTest, EventOutstandingWhenTheClientVanishesGoesFirstToTheNextClient) {
    Put(SessionOf(3), Event(1, 3));
    Put(SessionOf(3), Event(2, 3));
    {
        ServedConnection connection(service, ClientOf(3));
        PipeClient& client = Hello(connection, 3);
        ASSERT_TRUE(client.ReadEvent());
        client.Close();  // as if the program ended while its prompt was open
        ASSERT_TRUE(connection.Join());
    }
    EXPECT_EQ(SessionOf(3).QueuedEvents(), 2u);
    EXPECT_TRUE(FakeDriver::Get().Replies().empty());

    ServedConnection next(service, ClientOf(3));
    PipeClient& client = Hello(next, 3);
    auto e = client.ReadEvent();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->eventId, 1u);
    ASSERT_TRUE(client.WriteReply(1, 0));
    e = client.ReadEvent();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->eventId, 2u);
}

TEST_F(SessionWorkerTest, ShortOrMissingHelloEndsTheConnectionQuietly) {
    {
        ServedConnection connection(service);
        PipeClient& client = connection.Connect();
        const uint16_t half = 1;
        ASSERT_TRUE(client.Write(&half, sizeof(half)));
        client.Close();
        ASSERT_TRUE(connection.Join());
    }
    {
        ServedConnection connection(service);
        connection.Connect().Close();
        ASSERT_TRUE(connection.Join());
    }
    for (uint32_t id = 0; id < 8; ++id) EXPECT_EQ(service.sessions.Find(id), nullptr);
    EXPECT_EQ(FakeDriver::Get().opens, 0);
}

TEST_F(SessionWorkerTest, ShortReplyEndsTheConnectionAndLeavesTheEventUnanswered) {
    Put(SessionOf(1), Event(8, 1));
    ServedConnection connection(service);
    PipeClient& client = Hello(connection, 1);
    ASSERT_TRUE(client.ReadEvent());
    const uint32_t eventIdOnly = 8;
    ASSERT_TRUE(client.Write(&eventIdOnly, sizeof(eventIdOnly)));
    client.Close();
    ASSERT_TRUE(connection.Join());
    EXPECT_TRUE(FakeDriver::Get().Replies().empty());
    EXPECT_EQ(SessionOf(1).QueuedEvents(), 1u);
}

TEST_F(SessionWorkerTest, IdleClientThatLeavesIsNoticedByTheProbe) {
    ServedConnection connection(service, ClientOf(2));
    PipeClient& client = Hello(connection, 2);
    ASSERT_TRUE(WaitUntil([&] { return SessionOf(2).AttachedWorker() != 0; }));
    const DWORD start = GetTickCount();
    client.Close();
    ASSERT_TRUE(connection.Join(3000));
    EXPECT_LT(GetTickCount() - start, 750u);  // the probe runs every 250 ms
    EXPECT_EQ(SessionOf(2).AttachedWorker(), 0u);
}

TEST_F(SessionWorkerTest, WithoutADriverHandleEventsAreStillServedAndRemoved) {
    FakeDriver::Get().failOpen = true;
    Put(SessionOf(1), Event(1, 1));
    ServedConnection connection(service);
    PipeClient& client = Hello(connection, 1);
    ASSERT_TRUE(client.ReadEvent());
    ASSERT_TRUE(client.WriteReply(1, 1));
    ASSERT_TRUE(FakeDriver::Get().WaitForReplies(1, 5000));
    EXPECT_EQ(FakeDriver::Get().Requests()[0].device, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return SessionOf(1).QueuedEvents() == 0; }));
}

TEST_F(SessionWorkerTest, ClientsOfDifferentSessionsSeeOnlyTheirOwnEvents) {
    ServedConnection one(service, ClientOf(1)), two(service, ClientOf(2));
    PipeClient& a = Hello(one, 1);
    PipeClient& b = Hello(two, 2);
    for (uint32_t id = 1; id <= 6; ++id) Put(SessionOf(id % 2 ? 1 : 2), Event(id, id % 2 ? 1 : 2));
    for (uint32_t expected : {1u, 3u, 5u}) {
        auto e = a.ReadEvent();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->eventId, expected);
        ASSERT_TRUE(a.WriteReply(e->eventId, 1));
    }
    for (uint32_t expected : {2u, 4u, 6u}) {
        auto e = b.ReadEvent();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->eventId, expected);
        ASSERT_TRUE(b.WriteReply(e->eventId, 0));
    }
    ASSERT_TRUE(FakeDriver::Get().WaitForReplies(6, 5000));
}

TEST_F(SessionWorkerTest, ProcessIdHellosAreServedOnlyForTheSessionsUserClaimingItsOwnProcess) {
    const wchar_t* const kOther = L"S-1-5-21-7-7-7-4242";
    const wchar_t* const kNone = L"";  // unreadable, or nobody logged on
    const uint32_t process = ProcessInSession(2, 7);
    struct Case {
        const char* what;
        std::optional<ClientIdentity> client;
        uint32_t hello;
        bool served;
        const wchar_t* processUser = nullptr;  // null: the session's user
        const wchar_t* sessionUser = nullptr;
    } cases[] = {
        {"the session's user, its own process", ClientOf(2), process, true},
        {"another session's process", ClientOf(1), process, false},
        {"a process that does not exist", ClientOf(0), NoSuchProcess(0), false},
        {"a process that does not exist, other session", ClientOf(2), NoSuchProcess(2), false},
        {"a token that cannot be read", std::nullopt, process, false},
        {"an administrator of another session", ClientOf(1, true), process, false},
        {"another user of the session, the user's process", ClientOf(2, false, kOther), process, false},
        {"another user of the session, its own process", ClientOf(2, false, kOther), process, false, kOther},
        {"the session's user, another user's process", ClientOf(2), process, false, kOther},
        {"LocalSystem", ClientOf(2, true, L"S-1-5-18"), process, false, L"S-1-5-18", L"S-1-5-18"},
        {"LocalService", ClientOf(2, false, L"S-1-5-19"), process, false, L"S-1-5-19", L"S-1-5-19"},
        {"NetworkService", ClientOf(2, false, L"S-1-5-20"), process, false, L"S-1-5-20", L"S-1-5-20"},
        {"nobody logged on to the session", ClientOf(2), process, false, nullptr, kNone},
        {"a process whose token cannot be read", ClientOf(2), process, false, kNone},
    };
    const auto chosen = [&](const wchar_t* user) {
        return *user != L'\0' ? std::optional<std::wstring>(user) : std::nullopt;
    };
    for (const Case& c : cases) {
        FakeDriver::Get().Reset();
        if (c.processUser) FakeDriver::Get().SetProcessUser(c.hello, chosen(c.processUser));
        if (c.sessionUser) FakeDriver::Get().SetSessionUser(2, chosen(c.sessionUser));
        DeleteSessions(service.sessions);
        const AccessEvent secret = Event(40, 2);
        Put(SessionOf(2), secret);
        ServedConnection connection(service, c.client);
        PipeClient& client = connection.Connect();
        ASSERT_TRUE(client.WriteU32(c.hello)) << c.what;
        // Refused or not, the client gets its status, as a second client does.
        EXPECT_EQ(client.ReadU32(), std::optional<uint32_t>(ExpectedDriverStatus)) << c.what;
        auto event = client.ReadEvent();
        EXPECT_EQ(event.has_value(), c.served) << c.what;
        if (!c.served) {
            ASSERT_TRUE(connection.Join()) << c.what;
            EXPECT_EQ(SessionOf(2).AttachedWorker(), 0u) << c.what;
            // Nothing reached the driver and the event waits for its own client.
            EXPECT_TRUE(FakeDriver::Get().Requests().empty()) << c.what;
            EXPECT_EQ(SessionOf(2).QueuedEvents(), 1u) << c.what;
            EXPECT_EQ(service.sessions.Find(0), nullptr) << c.what;  // no fall-back to session 0
        } else {
            EXPECT_TRUE(SameBytes(event, secret));
        }
    }
}

TEST_F(SessionWorkerTest, GuardCommandsOfOthersThanAdministratorsAreDropped) {
    struct Case {
        const char* what;
        std::optional<ClientIdentity> client;
        bool carriedOut;
    } cases[] = {
        {"user", ClientOf(1, false), false},
        {"token unreadable", std::nullopt, false},
        {"administrator or LocalSystem", ClientOf(0, true), true},
    };
    for (const Case& c : cases) {
        for (uint32_t command : {DisableGuardCode, EnableGuardCode}) {
            FakeDriver::Get().Reset();
            const uint8_t before = command == DisableGuardCode ? 1 : 0;
            service.guardEnabled = before;
            ServedConnection connection(service, c.client);
            PipeClient& client = connection.Connect();
            ASSERT_TRUE(client.WriteU32(command));
            EXPECT_FALSE(client.ReadU32().has_value()) << c.what;  // closed, no answer
            ASSERT_TRUE(connection.Join());
            EXPECT_EQ(FakeDriver::Get().Requests().size(), c.carriedOut ? 1u : 0u) << c.what;
            EXPECT_EQ(service.guardEnabled.load(), c.carriedOut ? 1 - before : before) << c.what;
        }
    }
}

TEST_F(SessionWorkerTest, RefusedClientLeavesTheServedClientAttached) {
    ServedConnection first(service, ClientOf(1));
    PipeClient& a = Hello(first, 1);
    ASSERT_TRUE(WaitUntil([&] { return SessionOf(1).AttachedWorker() != 0; }));
    const uint32_t served = SessionOf(1).AttachedWorker();
    for (const std::optional<ClientIdentity>& intruder : {std::optional<ClientIdentity>(ClientOf(1)),
                                                          std::optional<ClientIdentity>(ClientOf(2))}) {
        ServedConnection refused(service, intruder);
        PipeClient& b = Hello(refused, 1);
        EXPECT_FALSE(b.ReadEvent().has_value());
        ASSERT_TRUE(refused.Join());
        EXPECT_EQ(SessionOf(1).AttachedWorker(), served);
    }
    Put(SessionOf(1), Event(9, 1));
    auto e = a.ReadEvent();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->eventId, 9u);
}

TEST_F(SessionWorkerTest, TimeLimitsAreFiveSecondsForTheHelloAndTenForAnEvent) {
    const PipeLimits defaults;
    EXPECT_EQ(defaults.helloMs, 5000u);
    EXPECT_EQ(defaults.eventTakenMs, 10000u);
    EXPECT_EQ(defaults.createRetryMs, 1000u);
}

// A silent client is closed when the limit runs out; part of a hello is a short
// read, which closes the connection at once.
TEST_F(SessionWorkerTest, AConnectionWithoutACompleteHelloIsClosedWithinTheLimit) {
    service.limits.helloMs = 400;
    for (DWORD sent : {0u, 1u, 3u}) {
        ServedConnection connection(service);
        PipeClient& client = connection.Connect();
        const uint8_t partial[3] = {1, 2, 3};
        if (sent != 0) {
            ASSERT_TRUE(client.Write(partial, sent));
        }
        const DWORD took = MillisecondsOf([&] { EXPECT_TRUE(connection.Join(5000)) << sent; });
        if (sent == 0) {
            EXPECT_GE(took, 300u);
        }
        EXPECT_LT(took, 3000u) << sent;
        EXPECT_FALSE(client.ReadU32().has_value());  // closed
    }
    EXPECT_EQ(FakeDriver::Get().opens, 0);
}

TEST_F(SessionWorkerTest, AnEventNotTakenInTimeEndsTheConnectionAndStaysFirst) {
    service.limits.eventTakenMs = 400;
    Put(SessionOf(1), Event(1, 1));
    Put(SessionOf(1), Event(2, 1));
    ServedConnection connection(service);
    Hello(connection, 1);  // reads the status, never its event
    const DWORD took = MillisecondsOf([&] { EXPECT_TRUE(connection.Join(5000)); });
    EXPECT_GE(took, 300u);
    EXPECT_LT(took, 3000u);
    // Detached: the pump denies this session's screen accesses at once again.
    EXPECT_EQ(SessionOf(1).AttachedWorker(), 0u);
    AccessEvent front;
    ASSERT_TRUE(SessionOf(1).PeekFront(&front));
    EXPECT_EQ(front.eventId, 1u);
    EXPECT_EQ(SessionOf(1).QueuedEvents(), 2u);
    EXPECT_TRUE(FakeDriver::Get().Replies().empty());
}

TEST_F(SessionWorkerTest, AnEventDroppedWhileItsAnswerIsAwaitedIsAnsweredToTheDriverOnlyOnce) {
    // A queue of one; the fixture deletes it like any session of the table.
    Session* session = new Session(service.sessions, 1, 1);
    Put(*session, Event(1, 1));
    ServedConnection connection(service);
    PipeClient& client = Hello(connection, 1);
    ASSERT_TRUE(client.ReadEvent());
    // The pump's side: the next event overflows the queue and drops the first,
    // which the pump denies to the driver itself.
    std::optional<AccessEvent> mustDeny;
    ASSERT_TRUE(session->Enqueue(Event(2, 1), false, &mustDeny));
    ASSERT_TRUE(mustDeny.has_value());
    EXPECT_EQ(mustDeny->eventId, 1u);
    ASSERT_TRUE(client.WriteReply(1, 1));
    ASSERT_TRUE(client.ReadEvent());
    ASSERT_TRUE(client.WriteReply(2, 1));
    ASSERT_TRUE(FakeDriver::Get().WaitForReplies(1, 5000));
    client.Close();
    ASSERT_TRUE(connection.Join());
    const auto replies = FakeDriver::Get().Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].eventId, 2u);
}

TEST_F(SessionWorkerTest, TheReplyMayTakeLongerThanAnyLimit) {
    service.limits.helloMs = 200;
    service.limits.eventTakenMs = 200;
    Put(SessionOf(1), Event(5, 1));
    ServedConnection connection(service);
    PipeClient& client = Hello(connection, 1);
    ASSERT_TRUE(client.ReadEvent());
    Sleep(1200);  // the user thinks
    ASSERT_TRUE(client.WriteReply(5, 1));
    ASSERT_TRUE(FakeDriver::Get().WaitForReplies(1, 5000));
    EXPECT_EQ(FakeDriver::Get().Replies()[0].eventId, 5u);
}

// The departed user's events are answered "deny" once each and go, and so do
// those its processes raise after the logoff; the next user of the session id
// sees none of them; other sessions keep theirs until a logon of their own.
TEST_F(SessionWorkerTest, ALogoffDeniesTheSessionsEventsOnceEmptiesItsQueueAndCutsItsClient) {
    std::optional<AccessEvent> dropped;
    Put(SessionOf(2), Event(1, 2));
    SessionOf(2).Enqueue(Event(2, 2, kScreenAccess), true, &dropped);  // denied at once already
    Put(SessionOf(2), Event(3, 2));
    Put(SessionOf(3), Event(9, 3));
    ServedConnection connection(service, ClientOf(2));
    PipeClient& departed = Hello(connection, 2);
    ASSERT_EQ(departed.ReadEvent()->eventId, 1u);  // its answer is awaited

    WTSSESSION_NOTIFICATION change = {sizeof(change), 2};
    EXPECT_EQ(ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGOFF, &change, &service),
              static_cast<DWORD>(NO_ERROR));
    ASSERT_TRUE(connection.Join());
    EXPECT_FALSE(departed.WriteReply(1, 1) && departed.ReadEvent().has_value());
    ASSERT_TRUE(FakeDriver::Get().WaitForReplies(2, 5000));
    Sleep(100);  // room for a second answer, which must not come
    std::vector<std::pair<uint32_t, uint32_t>> replies;
    for (const AccessReply& r : FakeDriver::Get().Replies()) replies.emplace_back(r.eventId, r.allow);
    EXPECT_EQ(replies, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 0}, {3, 0}}));
    EXPECT_EQ(SessionOf(2).QueuedEvents(), 0u);
    EXPECT_EQ(SessionOf(3).QueuedEvents(), 1u);
    // Late: denied at once, kept for nobody. Likewise in a session first seen
    // at its logoff.
    RouteEvent(Event(5, 2), FakeDeviceHandle(), service);
    ChangeSessionLogon(7, false, service);
    RouteEvent(Event(6, 7), FakeDeviceHandle(), service);
    replies.clear();
    for (const AccessReply& r : FakeDriver::Get().Replies()) replies.emplace_back(r.eventId, r.allow);
    EXPECT_EQ(replies, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 0}, {3, 0}, {5, 0}, {6, 0}}));
    EXPECT_EQ(SessionOf(2).QueuedEvents() + SessionOf(7).QueuedEvents(), 0u);

    ServedConnection next(service, ClientOf(2));
    PipeClient& arriving = Hello(next, 2);
    ASSERT_TRUE(WaitUntil([&] { return SessionOf(2).AttachedWorker() != 0; }));
    ASSERT_TRUE(Put(SessionOf(2), Event(4, 2)));
    EXPECT_EQ(arriving.ReadEvent()->eventId, 4u);

    // A logon empties what came before it and queues again.
    change.dwSessionId = 3;
    EXPECT_EQ(ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &change, &service),
              static_cast<DWORD>(NO_ERROR));
    ASSERT_TRUE(FakeDriver::Get().WaitForReplies(5, 5000));
    EXPECT_EQ(FakeDriver::Get().Replies().back().eventId, 9u);
    RouteEvent(Event(8, 3), FakeDeviceHandle(), service);
    EXPECT_EQ(SessionOf(3).QueuedEvents(), 1u);
    // A notice without its data or without the service's context changes nothing.
    for (const auto& [data, context] : {std::pair<void*, void*>{nullptr, &service}, {&change, nullptr}})
        EXPECT_EQ(ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGOFF, data, context),
                  static_cast<DWORD>(NO_ERROR));
    Sleep(100);
    EXPECT_EQ(SessionOf(3).QueuedEvents(), 1u);
    // Other controls are still refused.
    EXPECT_EQ(ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, &service),
              static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}
