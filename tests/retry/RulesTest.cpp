// The retry rules and the handlers that hold them: the keys each rule reads, which side it reads them
// from, which rules each handler holds, and how one run's failures count against them. (Each rule's
// defaults and bounds, the lines of bounding and of a rule with count 0, are HostileSettingsTest's,
// judged by the same promise; the lines of each rule, in order, and the waits, the fault matrix's, as
// is that each rule carries its handler's name; that PathIsDirectory's rules are built twice over,
// ConcurrencyStressTest's count of reads; what a server's waiting function decides, RunTest's.)
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <GridApi/RetryRules.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "HostFixture.h"
#include "RuleContract.h"

namespace {

using gridtest::ruleContract;
using gridtest::RuleContract;
using StravoStorageApi::FileOperationRetryHandler;

const PerfCounters::CounterType databaseReads = PerfCounters::DatabaseSettingsReads;

class RulesTest : public gridtest::HostTest {};

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

class HandlerTest : public gridtest::HostTest {};

TEST_F(HandlerTest, EachHandlerHoldsItsRuleSet) {
    struct Case {
        const char* name;
        FileOperationRetryHandler* handler;
        std::vector<std::uint32_t> codes;
    };
    GridApi::UncFileOperationRetryHandler unc("DeleteFile");
    GridApi::PathFileExistsRetryHandler exists;
    GridApi::PathIsDirectoryRetryHandler isDirectory;
    GridApi::PathIsDirectoryEmptyRetryHandler isEmpty;
    const Case cases[] = {
        {"DeleteFile", &unc, {2, 3, 5, 6, 32, 51, 53, 59, 64, 67, 121, 123, 145, 183}},
        {"PathFileExists", &exists, {5, 6, 32, 51, 53, 59, 64, 67, 121, 123, 145, 183}},
        {"PathIsDirectory", &isDirectory, {5, 6, 32, 51, 53, 59, 64, 67, 121, 123, 145}},
        {"PathIsDirectoryEmpty", &isEmpty, {5, 6, 32, 51, 53, 59, 64, 67, 121, 145}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.name, c.handler->operationName);
        std::vector<std::uint32_t> codes;
        for (const auto& entry : c.handler->rules) codes.push_back(entry.first);
        EXPECT_EQ(c.codes, codes) << c.name;
    }
}

// Three sharing violations, then access denials judged as failures 4, 5 and 6 against a count of 5.
TEST_F(HandlerTest, FailuresAreCountedAcrossErrorCodes) {
    GridApi::UncFileOperationRetryHandler handler("CopyFile");
    StravoStorageApi::RetryHandlerContext run;
    run.arguments = {"src", "dst"};
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
    EXPECT_EQ("GRIDAPI-I-0001 \tArg 1:  src", all[1]);
    EXPECT_EQ("GRIDAPI-I-0001 \tArg 2:  dst", all[2]);
    EXPECT_EQ("GRIDAPI-W-0002 Could not 'CopyFile' file (All 'Access Denied' retries exhausted.)", all[all.size() - 3]);
    EXPECT_EQ("GRIDAPI-W-0002 \tArg 2:  dst", all.back());
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
