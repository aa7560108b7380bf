#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <GridApi/UncFileOperationRetryHandler.h>

#include "HostFixture.h"

namespace {

using StravoStorageApi::RetryHandlerContext;

class DecisionTest : public gridtest::HostTest {
  protected:
    RetryHandlerContext context(std::vector<std::string> arguments) {
        RetryHandlerContext c;
        c.arguments = std::move(arguments);
        return c;
    }
};

const char* const info = "GRIDAPI-I-0001 ";
const char* const warn = "GRIDAPI-W-0002 ";

std::string line(const char* kind, const std::string& text) { return kind + text; }

// (The lines of each rule, in order, and the waits are the fault matrix's; the defaults, and the lines of
// a rule with count 0, HostileSettingsTest's.
// What a server's waiting function decides is RunTest's.)
TEST_F(DecisionTest, FailuresAreCountedAcrossErrorCodes) {
    GridApi::UncFileOperationRetryHandler handler("CopyFile");
    RetryHandlerContext run = context({"src", "dst"});
    // Three sharing violations, then access denials judged as failures 4, 5 and 6 against a count of 5.
    const std::uint32_t errors[] = {32, 32, 32, 5, 5, 5};
    const bool expected[] = {true, true, true, true, true, false};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(expected[i], handler.shouldRetry(errors[i], run)) << "failure " << i + 1;
    }
    const std::vector<int> sleeps = StravoHostControl::recordedSleeps();
    ASSERT_EQ(5u, sleeps.size());
    EXPECT_GE(sleeps[3], 10);  // the access-denied wait
    EXPECT_LE(sleeps[4], 12);
    const std::vector<std::string> all = lines();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(line(info, "\tArg 1:  src"), all[1]);
    EXPECT_EQ(line(info, "\tArg 2:  dst"), all[2]);
    EXPECT_EQ(line(warn, "Could not 'CopyFile' file (All 'Access Denied' retries exhausted.)"), all[all.size() - 3]);
    EXPECT_EQ(line(warn, "\tArg 2:  dst"), all.back());
}

}  // namespace
