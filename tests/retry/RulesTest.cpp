#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <GridApi/RetryRules.h>
#include <StravoHost/Settings.h>

#include "HostFixture.h"

namespace {

using StravoStorageApi::FileOperationRetry;

struct RuleCase {
    const char* name;
    std::uint32_t retries;
    std::uint32_t wait;
    const char* retriesKey;
    const char* waitKey;
    const char* description;
    std::unique_ptr<FileOperationRetry> (*make)(const std::string&);
};

template <class Rule>
std::unique_ptr<FileOperationRetry> make(const std::string& operation) {
    return std::unique_ptr<FileOperationRetry>(new Rule(operation));
}

const RuleCase rules[] = {
    {"FileSharingViolationRetry", 16, 5, "NumRetriesOnSharingViolation", "SharingViolationWaitSeconds",
     "Sharing Violation", &make<StravoStorageApi::FileSharingViolationRetry>},
    {"FileAccessDeniedRetry", 5, 10, "NumRetriesOnAccessDenied", "AccessDeniedWaitSeconds", "Access Denied",
     &make<StravoStorageApi::FileAccessDeniedRetry>},
    {"FileAlreadyExistsRetry", 3, 3, "NumRetriesOnFileAlreadyExists", "FileAlreadyExistsWaitSeconds",
     "File Already Exists", &make<StravoStorageApi::FileAlreadyExistsRetry>},
    {"DirectoryNotEmptyRetry", 3, 3, "NumRetriesOnDirectoryNotEmpty", "DirectoryNotEmptyWaitSeconds",
     "Directory Not Empty", &make<StravoStorageApi::DirectoryNotEmptyRetry>},
    {"FileSemTimeoutRetry", 2, 1, "NumRetriesOnSemTimeout", "SemTimeoutWaitSeconds", "Semaphore Timeout",
     &make<GridApi::FileSemTimeoutRetry>},
    {"FileBadNetPathRetry", 16, 5, "NumRetriesOnBadNetPath", "BadNetPathWaitSeconds", "The network path was not found",
     &make<StravoStorageApi::FileBadNetPathRetry>},
    {"FileNetNameDelRetry", 16, 5, "NumRetriesNetNameDel", "NetNameDelWaitSeconds",
     "The specified network name is no longer available", &make<GridApi::FileNetNameDelRetry>},
    {"FilePathNotFoundRetry", 16, 5, "NumRetriesOnPathNotFound", "PathNotFoundWaitSeconds",
     "The system cannot find the path specified", &make<GridApi::FilePathNotFoundRetry>},
    {"FileFileNotFoundRetry", 16, 5, "NumRetriesOnFileNotFound", "FileNotFoundWaitSeconds",
     "The system cannot find the file specified", &make<GridApi::FileFileNotFoundRetry>},
    {"FileUnexpectedNetErrorRetry", 10, 10, "NumRetriesOnUnexpectedNetError", "UnexpectedNetErrorWaitSeconds",
     "An unexpected network error occurred", &make<GridApi::FileUnexpectedNetErrorRetry>},
    {"FileInvalidNameRetry", 16, 5, "NumRetriesOnInvalidName", "InvalidNameWaitSeconds",
     "The filename, directory name, or volume label syntax is incorrect", &make<GridApi::FileInvalidNameRetry>},
    {"FileRemNotListRetry", 16, 5, "NumRetriesOnRemNotList", "RemNotListWaitSeconds",
     "Windows cannot find the network path. Verify that the network path is correct and the destination computer "
     "is not busy or turned off. If Windows still cannot find the network path, contact your network "
     "administrator.",
     &make<GridApi::FileRemNotListRetry>},
    {"FileInvalidHandleRetry", 16, 5, "NumRetriesOnInvalidHandle", "InvalidHandleWaitSeconds", "The handle is invalid",
     &make<GridApi::FileInvalidHandleRetry>},
    {"FileBadNetNameRetry", 16, 5, "NumRetriesOnBadNetName", "BadNetNameWaitSeconds",
     "The network name cannot be found", &make<StravoStorageApi::FileBadNetNameRetry>},
};

class RulesTest : public gridtest::HostTest {};

TEST_F(RulesTest, WithoutSettingsEveryRuleHasItsDefaults) {
    for (const RuleCase& c : rules) {
        const std::unique_ptr<FileOperationRetry> rule = c.make("DeleteFile");
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.retries, rule->numRetries);
        EXPECT_EQ(c.wait, rule->waitSeconds);
        EXPECT_EQ(3u, rule->waitJitterSeconds);
        EXPECT_EQ(c.retriesKey, rule->retriesKey);
        EXPECT_EQ(c.waitKey, rule->waitSecondsKey);
        EXPECT_EQ(c.description, rule->description);
        EXPECT_EQ("DeleteFile", rule->operationName);
        EXPECT_EQ(0u, rule->minRetries);
        EXPECT_EQ(0u, rule->minWaitSeconds);
    }
    EXPECT_TRUE(lines().empty());
}

TEST_F(RulesTest, EveryRuleReadsItsOwnKeys) {
    for (const RuleCase& c : rules) {
        StravoHostControl::setDatabaseSetting(c.retriesKey, 1);
        StravoHostControl::setDatabaseSetting(c.waitKey, 2);
        const std::unique_ptr<FileOperationRetry> rule = c.make("CopyFile");
        EXPECT_EQ(1u, rule->numRetries) << c.name;
        EXPECT_EQ(2u, rule->waitSeconds) << c.name;
        StravoHostControl::clearAllSettings();
    }
}

TEST_F(RulesTest, SettingsAreBoundedAndTheBoundingIsTraced) {
    struct Case {
        const char* key;
        std::int64_t setting;
        std::uint32_t FileOperationRetry::*field;
        std::uint32_t expected;
        const char* trace;  // nullptr: no line
        std::unique_ptr<FileOperationRetry> (*make)(const std::string&);
    };
    const Case cases[] = {
        {"NumRetriesOnAccessDenied", 50, &FileOperationRetry::numRetries, 5,
         "GRIDAPI-T-1111 limiting the 'Access Denied' number of retries to 5.",
         &make<StravoStorageApi::FileAccessDeniedRetry>},
        {"AccessDeniedWaitSeconds", 30, &FileOperationRetry::waitSeconds, 20,
         "GRIDAPI-T-1111 limiting the 'Access Denied' wait time to 20 seconds.",
         &make<StravoStorageApi::FileAccessDeniedRetry>},
        {"DirectoryNotEmptyWaitSeconds", 0, &FileOperationRetry::waitSeconds, 0, nullptr,
         &make<StravoStorageApi::DirectoryNotEmptyRetry>},
        {"DirectoryNotEmptyWaitSeconds", 61, &FileOperationRetry::waitSeconds, 60,
         "GRIDAPI-T-1111 limiting the 'Directory Not Empty' wait time to 60 seconds.",
         &make<StravoStorageApi::DirectoryNotEmptyRetry>},
        {"DirectoryNotEmptyWaitSeconds", 60, &FileOperationRetry::waitSeconds, 60, nullptr,
         &make<StravoStorageApi::DirectoryNotEmptyRetry>},
        {"NumRetriesOnFileAlreadyExists", 101, &FileOperationRetry::numRetries, 100,
         "GRIDAPI-T-1111 limiting the 'File Already Exists' number of retries to 100.",
         &make<StravoStorageApi::FileAlreadyExistsRetry>},
        {"NumRetriesOnSharingViolation", 1000, &FileOperationRetry::numRetries, 1000, nullptr,
         &make<StravoStorageApi::FileSharingViolationRetry>},
        {"NumRetriesOnBadNetName", 0, &FileOperationRetry::numRetries, 0, nullptr,
         &make<StravoStorageApi::FileBadNetNameRetry>},
        {"FileRetryWaitError", 0, &FileOperationRetry::waitJitterSeconds, 1, nullptr,
         &make<GridApi::FileNetNameDelRetry>},
        {"FileRetryWaitError", 9, &FileOperationRetry::waitJitterSeconds, 9, nullptr,
         &make<GridApi::FileNetNameDelRetry>},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + std::to_string(c.setting));
        StravoHostControl::clearAllSettings();
        StravoHostControl::clearCapturedLogLines();
        StravoHostControl::setDatabaseSetting(c.key, c.setting);
        const std::unique_ptr<FileOperationRetry> rule = c.make("DeleteFile");
        EXPECT_EQ(c.expected, (*rule).*c.field);
        const std::vector<std::string> expected =
            c.trace ? std::vector<std::string>{c.trace} : std::vector<std::string>{};
        EXPECT_EQ(expected, lines());
    }
}

TEST_F(RulesTest, BaseRuleLoadsNothing) {
    StravoHostControl::setDatabaseSetting("FileRetryWaitError", 9);
    StravoHostControl::createPerformanceCounters();
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(PerfCounters::CounterType(4));
    FileOperationRetry rule("DeleteFile");
    rule.loadSettings();
    EXPECT_EQ("<default>", rule.description);
    EXPECT_EQ(0u, rule.numRetries);
    EXPECT_EQ(0u, rule.waitSeconds);
    EXPECT_EQ(3u, rule.waitJitterSeconds);
    EXPECT_EQ(0xFFFFFFFFu, rule.maxRetries);
    EXPECT_EQ(readsBefore, StravoHostControl::performanceCounter(PerfCounters::CounterType(4)));
}

TEST_F(RulesTest, DatabaseFailureLeavesDefaultsAndIsTracedOncePerRead) {
    StravoHostControl::createPerformanceCounters();
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(PerfCounters::CounterType(4));
    StravoHostControl::setDatabaseSetting("NumRetriesOnSemTimeout", 7);
    StravoHostControl::failDatabaseSettings("disk I/O error");
    GridApi::FileSemTimeoutRetry rule("DeleteFile");
    EXPECT_EQ(2u, rule.numRetries);
    EXPECT_EQ(1u, rule.waitSeconds);
    EXPECT_EQ(3u, rule.waitJitterSeconds);
    ASSERT_EQ(3u, lines().size());
    for (const std::string& line : lines()) {
        EXPECT_EQ(0u, line.find("GRIDAPI-T-1111 Database error calling getGlobalSetting: ")) << line;
        EXPECT_NE(std::string::npos, line.find("disk I/O error")) << line;
    }
    EXPECT_EQ(readsBefore + 3, StravoHostControl::performanceCounter(PerfCounters::CounterType(4)));

    // With the trace off, the failure is swallowed silently.
    StravoHostControl::clearCapturedLogLines();
    StravoHostControl::setTrace(false);
    GridApi::FileSemTimeoutRetry quiet("DeleteFile");
    EXPECT_EQ(2u, quiet.numRetries);
    EXPECT_TRUE(lines().empty());
}

TEST_F(RulesTest, NodeLocalKeysAreReadFromTheRegistrySideAndItsErrorsPass) {
    StravoHostControl::createPerformanceCounters();
    StravoHostControl::setNodeLocalKey("NumRetriesOnSemTimeout", true);
    StravoHostControl::setNodeLocalSetting("NumRetriesOnSemTimeout", 4);
    StravoHostControl::setDatabaseSetting("NumRetriesOnSemTimeout", 9);
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(PerfCounters::CounterType(4));
    GridApi::FileSemTimeoutRetry rule("DeleteFile");
    EXPECT_EQ(4u, rule.numRetries);
    // Only the wait and the jitter went to the database.
    EXPECT_EQ(readsBefore + 2, StravoHostControl::performanceCounter(PerfCounters::CounterType(4)));

    StravoHostControl::failNodeLocalSettings("registry unreadable");
    EXPECT_ANY_THROW(GridApi::FileSemTimeoutRetry("DeleteFile"));
}

}  // namespace
