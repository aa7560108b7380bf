#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <GridApi/RetryRules.h>
#include <GridApi/UncFileOperationRetryHandler.h>
#include <StravoHost/Settings.h>

#include "HostFixture.h"
#include "RuleContract.h"

namespace {

using gridtest::ruleContract;
using gridtest::RuleContract;
using StravoStorageApi::FileOperationRetry;

const PerfCounters::CounterType databaseReads = PerfCounters::DatabaseSettingsReads;

class RulesTest : public gridtest::HostTest {};

TEST_F(RulesTest, WithoutSettingsEveryRuleHasItsDefaults) {
    const GridApi::UncFileOperationRetryHandler handler("DeleteFile");
    EXPECT_EQ(std::size(ruleContract), handler.rules.size());
    for (const RuleContract& c : ruleContract) {
        SCOPED_TRACE(c.code);
        const FileOperationRetry& r = *handler.rules.at(c.code);
        EXPECT_EQ(c.retries, r.numRetries);
        EXPECT_EQ(c.waitSeconds, r.waitSeconds);
        EXPECT_EQ(c.maxRetries, r.maxRetries);
        EXPECT_EQ(c.maxWaitSeconds, r.maxWaitSeconds);
        EXPECT_EQ(3u, r.waitJitterSeconds);
        EXPECT_EQ(c.retriesKey, r.retriesKey);
        EXPECT_EQ(c.waitKey, r.waitSecondsKey);
        EXPECT_EQ(c.description, r.description);
        EXPECT_EQ("DeleteFile", r.operationName);
        EXPECT_EQ(0u, r.minRetries);
        EXPECT_EQ(0u, r.minWaitSeconds);
    }
    EXPECT_TRUE(lines().empty());
}

// Each key gets a value of its own, so that a rule reading another rule's key shows.
TEST_F(RulesTest, EveryRuleReadsItsOwnKeys) {
    std::uint32_t value = 0;
    for (const RuleContract& c : ruleContract) {
        StravoHostControl::setDatabaseSetting(c.retriesKey, ++value);
        StravoHostControl::setDatabaseSetting(c.waitKey, ++value);
    }
    const GridApi::UncFileOperationRetryHandler handler("CopyFile");
    value = 0;
    for (const RuleContract& c : ruleContract) {
        EXPECT_EQ(++value, handler.rules.at(c.code)->numRetries) << c.retriesKey;
        EXPECT_EQ(++value, handler.rules.at(c.code)->waitSeconds) << c.waitKey;
    }
}

TEST_F(RulesTest, SettingsAreBoundedAndTheBoundingIsTraced) {
    struct Case {
        DWORD code;
        std::uint32_t FileOperationRetry::*field;
        std::int64_t setting;
        std::uint32_t expected;
    };
    const auto count = &FileOperationRetry::numRetries, wait = &FileOperationRetry::waitSeconds,
               jitter = &FileOperationRetry::waitJitterSeconds;
    std::vector<Case> cases = {
        {32, count, 1000, 1000}, {67, count, 0, 0}, {145, wait, 0, 0}, {64, jitter, 0, 1}, {64, jitter, 9, 9}};
    // Every bound: the bound itself is taken, one more is bounded.
    for (const RuleContract& c : ruleContract) {
        for (const auto& bound : {std::make_pair(count, c.maxRetries), std::make_pair(wait, c.maxWaitSeconds)}) {
            if (bound.second == gridtest::none) continue;
            cases.push_back({c.code, bound.first, bound.second, bound.second});
            cases.push_back({c.code, bound.first, std::int64_t(bound.second) + 1, bound.second});
        }
    }
    for (const Case& c : cases) {
        const RuleContract& contract = *gridtest::contractFor(c.code);
        const std::string key = c.field == count  ? contract.retriesKey
                                : c.field == wait ? contract.waitKey
                                                  : "FileRetryWaitError";
        SCOPED_TRACE(key + "=" + std::to_string(c.setting));
        StravoHostControl::clearAllSettings();
        StravoHostControl::clearCapturedLogLines();
        StravoHostControl::setDatabaseSetting(key, c.setting);
        const GridApi::UncFileOperationRetryHandler handler("DeleteFile");
        EXPECT_EQ(c.expected, (*handler.rules.at(c.code)).*c.field);
        std::vector<std::string> expected;
        if (c.setting > c.expected) {
            expected.push_back("GRIDAPI-T-1111 limiting the '" + std::string(contract.description) +
                               (c.field == count ? "' number of retries to " + std::to_string(c.expected) + "."
                                                 : "' wait time to " + std::to_string(c.expected) + " seconds."));
        }
        EXPECT_EQ(expected, lines());
    }
}

TEST_F(RulesTest, BaseRuleLoadsNothing) {
    StravoHostControl::setDatabaseSetting("FileRetryWaitError", 9);
    StravoHostControl::createPerformanceCounters();
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(databaseReads);
    FileOperationRetry rule("DeleteFile");
    rule.loadSettings();
    EXPECT_EQ("<default>", rule.description);
    EXPECT_EQ(0u, rule.numRetries);
    EXPECT_EQ(0u, rule.waitSeconds);
    EXPECT_EQ(3u, rule.waitJitterSeconds);
    EXPECT_EQ(0xFFFFFFFFu, rule.maxRetries);
    EXPECT_EQ(readsBefore, StravoHostControl::performanceCounter(databaseReads));
}

// A failing database leaves the defaults, one trace line per read (HostileSettingsTest's store rows
// show the lines): the failed reads are counted, and with the trace off the failure is silent.
TEST_F(RulesTest, DatabaseFailuresAreCountedAndSilentWithoutTheTrace) {
    StravoHostControl::createPerformanceCounters();
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(databaseReads);
    StravoHostControl::setDatabaseSetting("NumRetriesOnSemTimeout", 7);
    StravoHostControl::failDatabaseSettings("disk I/O error");
    EXPECT_EQ(2u, GridApi::FileSemTimeoutRetry("DeleteFile").numRetries);
    EXPECT_EQ(3u, lines().size());
    EXPECT_EQ(readsBefore + 3, StravoHostControl::performanceCounter(databaseReads));

    StravoHostControl::clearCapturedLogLines();
    StravoHostControl::setTrace(false);
    EXPECT_EQ(2u, GridApi::FileSemTimeoutRetry("DeleteFile").numRetries);
    EXPECT_TRUE(lines().empty());
}

TEST_F(RulesTest, NodeLocalKeysAreReadFromTheRegistrySideAndItsErrorsPass) {
    StravoHostControl::createPerformanceCounters();
    StravoHostControl::setNodeLocalKey("NumRetriesOnSemTimeout", true);
    StravoHostControl::setNodeLocalSetting("NumRetriesOnSemTimeout", 4);
    StravoHostControl::setDatabaseSetting("NumRetriesOnSemTimeout", 9);
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(databaseReads);
    GridApi::FileSemTimeoutRetry rule("DeleteFile");
    EXPECT_EQ(4u, rule.numRetries);
    // Only the wait and the jitter went to the database.
    EXPECT_EQ(readsBefore + 2, StravoHostControl::performanceCounter(databaseReads));

    StravoHostControl::failNodeLocalSettings("registry unreadable");
    EXPECT_ANY_THROW(GridApi::FileSemTimeoutRetry("DeleteFile"));
}

#ifdef GRID_SOURCE_DIR
// docs/retry.md's rule table holds the library's list of rules, row for row in its order (the
// error's name in words left out).
TEST(RetryDocumentTest, TheRuleTableIsTheLibrarysList) {
    const auto pair = [](std::uint32_t a, std::uint32_t b) { return std::to_string(a) + " / " + std::to_string(b); };
#define GRIDAPI_DOCUMENTED_RULE(Namespace, Name, code, retries, wait, maxRetries, maxWait, retriesKey, waitKey, ...) \
    "| " + std::to_string(code) + " | `" retriesKey "` | `" waitKey "` | " + pair(retries, wait) + " | " +           \
        (maxRetries == GRIDAPI_UNBOUNDED && maxWait == GRIDAPI_UNBOUNDED ? "none" : pair(maxRetries, maxWait)) + " |",
    const std::vector<std::string> listed = {GRIDAPI_RETRY_RULES(GRIDAPI_DOCUMENTED_RULE)};
#undef GRIDAPI_DOCUMENTED_RULE
    std::ifstream doc(GRID_SOURCE_DIR "/docs/retry.md");
    const std::regex named(R"(^\| (\d+) [a-z -]+ \| `)");
    std::vector<std::string> documented;
    for (std::string line; std::getline(doc, line);) {
        if (std::regex_search(line, named)) documented.push_back(std::regex_replace(line, named, "| $1 | `"));
    }
    EXPECT_EQ(listed, documented);
}
#endif

}  // namespace
