// The device host's answer task ends soon after a Stop, wherever in its loop the Stop lands.
#include "KL_SharedVariable.h"
#include "UP_SsdpDeviceSearchResponseTask.h"
#include "UP_SsdpPendingSearches.h"

#include <gtest/gtest.h>

namespace {

constexpr KL_Timeout kStopMillis = 1000;
constexpr KL_Timeout kParkMillis = 5000;

// Parks once between the loop's abort check and its TakeDue, until the test releases it.
class ParkedBeforeTake : public UP_SsdpDeviceSearchResponseTask {
public:
    explicit ParkedBeforeTake(UP_SsdpPendingSearches* pending)
        : UP_SsdpDeviceSearchResponseTask(nullptr, pending, nullptr) {}

    void DoRun() override {
        UP_SsdpDeviceSearchResponseTask::DoRun();
        (void)m_Ended.SetValue(1);
    }

    KL_SharedVariable m_Parked{0};
    KL_SharedVariable m_Release{0};
    KL_SharedVariable m_Ended{0};

protected:
    void BeforeTake() override {
        if (m_Parked.GetValue() == 0) {
            (void)m_Parked.SetValue(1);
            (void)m_Release.WaitUntilEquals(1, kParkMillis);
        }
    }
};

// The abort's wake-up comes before the take, which clears what was queued since the last one.
TEST(SearchResponseTask, AStopBetweenTheAbortCheckAndTheTakeEndsItWithinASecond) {
    UP_SsdpPendingSearches pending;
    ParkedBeforeTake task(&pending);
    ASSERT_EQ(KL_SUCCESS, task.Start());
    EXPECT_EQ(KL_SUCCESS, task.m_Parked.WaitUntilEquals(1, kParkMillis));
    EXPECT_EQ(KL_SUCCESS, task.Stop(false));
    (void)task.m_Release.SetValue(1);
    EXPECT_EQ(KL_SUCCESS, task.m_Ended.WaitUntilEquals(1, kStopMillis));
    // A second abort wakes it anyway, so a failure above does not hang the test.
    EXPECT_EQ(KL_SUCCESS, task.Stop(true));
}

} // namespace
