#include <gtest/gtest.h>

#include <vector>

#include "client/LinkSchedule.h"

using namespace quenvar;

namespace {

const ServiceLinkTiming kTiming = {250, 30000, 10000, 60000, 2000, 2000};

std::vector<DWORD> Pauses(LinkSchedule& schedule, int count) {
    std::vector<DWORD> pauses;
    for (int i = 0; i < count; ++i) pauses.push_back(schedule.NextPause());
    return pauses;
}

}  // namespace

TEST(LinkScheduleTest, PausesDoubleUpToTheLongestAndStartAgainOnlyAfterASteadyLink) {
    LinkSchedule schedule(kTiming);
    EXPECT_EQ(Pauses(schedule, 10),
              (std::vector<DWORD>{250, 500, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    schedule.ConnectionEnded(9999);  // cut off soon after the status: no fresh start
    EXPECT_EQ(schedule.NextPause(), 30000u);
    schedule.ConnectionEnded(10000);
    EXPECT_EQ(Pauses(schedule, 3), (std::vector<DWORD>{250, 500, 1000}));
}

TEST(LinkScheduleTest, EachNoticeIsDueOncePerRunOrOncePerSuspension) {
    LinkSchedule schedule(kTiming);
    EXPECT_FALSE(schedule.BackDue());  // nothing was suspended
    EXPECT_FALSE(schedule.NoServiceDue(59999));
    EXPECT_TRUE(schedule.NoServiceDue(60000));
    EXPECT_FALSE(schedule.NoServiceDue(120000));

    EXPECT_TRUE(schedule.StatusErrorDue(0x1234));
    EXPECT_FALSE(schedule.StatusErrorDue(0x1234));
    EXPECT_FALSE(schedule.StatusErrorDue(0x7FFE7));

    EXPECT_TRUE(schedule.ImpostorDue());
    EXPECT_FALSE(schedule.ImpostorDue());

    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(schedule.SuspendedDue()) << round;
        EXPECT_FALSE(schedule.SuspendedDue()) << round;  // retries say nothing more
        EXPECT_TRUE(schedule.BackDue()) << round;
        EXPECT_FALSE(schedule.BackDue()) << round;
    }
}

TEST(LinkScheduleTest, NoServiceIsNeverDueOnceTheServiceHasAnswered) {
    LinkSchedule schedule(kTiming);
    EXPECT_FALSE(schedule.StatusErrorDue(0x7FFE7));
    EXPECT_FALSE(schedule.NoServiceDue(600000));
}
