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

// (Each rule's defaults and bounds, and the lines of bounding, are HostileSettingsTest's, judged by the
// same promise; which rules a handler holds, HandlerTest's.)

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

// (That the node-local side's errors pass through a rule's construction is RunTest's.)
TEST_F(RulesTest, NodeLocalKeysAreReadFromTheRegistrySide) {
    StravoHostControl::createPerformanceCounters();
    StravoHostControl::setNodeLocalKey("NumRetriesOnSemTimeout", true);
    StravoHostControl::setNodeLocalSetting("NumRetriesOnSemTimeout", 4);
    StravoHostControl::setDatabaseSetting("NumRetriesOnSemTimeout", 9);
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(databaseReads);
    GridApi::FileSemTimeoutRetry rule("DeleteFile");
    EXPECT_EQ(4u, rule.numRetries);
    // Only the wait and the jitter went to the database.
    EXPECT_EQ(readsBefore + 2, StravoHostControl::performanceCounter(databaseReads));
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
