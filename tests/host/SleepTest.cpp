#include <StravoHost/HostControl.h>
#include <StravoHost/Sleep.h>

#include <vector>

#include <gtest/gtest.h>

namespace {

class HostSleep : public ::testing::Test {
  protected:
    void TearDown() override { StravoHostControl::restoreSleep(); }
};

TEST_F(HostSleep, ReplacementDecidesTheResult) {
    std::vector<int> asked;
    StravoHostControl::setSleepFunction([&asked](int seconds) {
        asked.push_back(seconds);
        return seconds * 10;
    });
    EXPECT_EQ(sys_sleep(2), 20);
    EXPECT_EQ(sys_sleep(5), 50);
    EXPECT_EQ(asked, (std::vector<int>{2, 5}));
    // A replacement is not a recorder.
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty());
}

// Restoring the real sleep empties the record (what the recorder keeps is every retry test's,
// DecisionTest's among them).
TEST_F(HostSleep, RealSleepOfNothingReturnsZero) {
    StravoHostControl::recordSleeps();
    EXPECT_EQ(sys_sleep(3), 0);
    StravoHostControl::restoreSleep();
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty());
    EXPECT_EQ(sys_sleep(0), 0);
    EXPECT_EQ(sys_sleep(-3), 0);
}

}  // namespace
