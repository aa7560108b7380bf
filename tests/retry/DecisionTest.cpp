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

// Under the defaults: sixteen retries of a sharing violation, then it gives up, the count starts
// again and the next failure opens a new block of lines. (The lines of each rule, in order, and the
// waits are the fault matrix's; the defaults are RulesTest's. What a server's waiting function decides
// is RunTest's and the waiters of tests/integrity's, which run the step and count its answers.)
TEST_F(DecisionTest, SharingViolationCadenceUnderDefaults) {
    GridApi::UncFileOperationRetryHandler handler("DeleteFile");
    RetryHandlerContext run = context({"\\\\srv\\share\\f.txt"});
    StravoHostControl::clearCapturedLogLines();
    std::vector<bool> answers;
    for (int failure = 1; failure <= 17; ++failure) answers.push_back(handler.shouldRetry(32, run));
    std::vector<bool> expected(16, true);
    expected.push_back(false);
    EXPECT_EQ(expected, answers);
    EXPECT_EQ(0u, run.attempts) << "giving up resets the count";
    EXPECT_EQ(16u, StravoHostControl::recordedSleeps().size());
    EXPECT_EQ(line(warn, "Could not 'DeleteFile' file (All 'Sharing Violation' retries exhausted.)"),
              lines().at(lines().size() - 2));

    StravoHostControl::clearCapturedLogLines();
    EXPECT_TRUE(handler.shouldRetry(32, run));
    EXPECT_EQ(line(info, "Could not perform a file 'DeleteFile' operation:"), lines().at(0));
}

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

TEST_F(DecisionTest, ARuleWithCountZeroLogsOnceAndGivesUp) {
    StravoHostControl::setDatabaseSetting("NumRetriesOnAccessDenied", 0);
    GridApi::UncFileOperationRetryHandler handler("DeleteFile");
    RetryHandlerContext run = context({"f"});
    StravoHostControl::clearCapturedLogLines();
    EXPECT_FALSE(handler.shouldRetry(5, run));
    const std::vector<std::string> expected = {
        line(info, "Could not perform a file 'DeleteFile' operation:"),
        line(info, "\tArg 1:  f"),
        line(info, "Error: 'Access Denied'. No retry will be performed."),
        line(warn, "Could not 'DeleteFile' file (All 'Access Denied' retries exhausted.)"),
        line(warn, "\tArg 1:  f"),
    };
    EXPECT_EQ(expected, lines());
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty());
    EXPECT_EQ(0u, run.attempts);
}

}  // namespace
