#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <GridApi/PathCommands.h>
#include <GridApi/FaultInjector.h>
#include <GridApi/SystemCalls.h>

#include "FreshProcess.h"
#include "HostFixture.h"

namespace {

using GridApi::FaultInjector;

class RunTest : public gridtest::ServicesTest {
  protected:
    std::string makeFile(const std::string& name) {
        writeFile(path(name));
        return path(name);
    }
};

BOOL WINAPI deleteQuietly(LPCSTR) { return TRUE; }

TEST_F(RunTest, AFirstTimeSuccessLeavesNoTrace) {
    const std::string file = makeFile("plain.txt");
    EXPECT_EQ(TRUE, services_->DeleteFileA(file.c_str()));
    EXPECT_FALSE(exists(file));

    // The run itself leaves the last error as the successful call left it.
    GridApi::setSystemCall("DeleteFileA", reinterpret_cast<void*>(&deleteQuietly));
    SetLastError(1234);
    EXPECT_EQ(TRUE, services_->DeleteFileA(file.c_str()));
    GridApi::restoreSystemCalls();
    EXPECT_EQ(1234u, GetLastError());

    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(StravoHostControl::capturedSystemEvents().empty());
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty());
}

TEST_F(RunTest, TheServersWaitingFunctionCanStopTheRetries) {
    const std::string file = makeFile("declined.txt");
    gridtest::failCalls("DeleteFileA", ERROR_NETNAME_DELETED, 0);
    int offered = 0;
    services_->setRetryWaiter([&offered](const StravoStorageApi::RetryStep&) {
        ++offered;
        return offered < 3;  // two immediate retries without the step, then stop
    });
    EXPECT_EQ(FALSE, services_->DeleteFileA(file.c_str()));
    EXPECT_EQ(3, offered);
    EXPECT_EQ(3u, FaultInjector::calls("DeleteFileA"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NETNAME_DELETED), GetLastError());
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty());
    // The steps never ran, so no retry lines: only the final failure.
    ASSERT_EQ(1u, lines().size());
    EXPECT_EQ(0u, lines()[0].find("GRIDAPI-E-0003 ")) << lines()[0];
}

// (That first callers racing build each handler once is ConcurrencyStressTest's.)
TEST_F(RunTest, AFailedHandlerConstructionIsRetriedByTheNextCall) {
    if (!gridtest::inFreshProcess()) return;
    StravoHostControl::setNodeLocalKey("NumRetriesOnSharingViolation", true);
    StravoHostControl::failNodeLocalSettings("registry unreadable");
    const std::string file = makeFile("later.txt");
    GridApi::DeleteFileA first(file);
    EXPECT_THROW(first(GridApi::RetryWaiter()), std::exception);
    EXPECT_TRUE(exists(file));

    StravoHostControl::clearSettingsFailures();
    EXPECT_EQ(TRUE, services_->DeleteFileA(file.c_str()));
    EXPECT_FALSE(exists(file));
}

}  // namespace
