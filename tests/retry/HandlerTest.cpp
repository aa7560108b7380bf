#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <GridApi/UncFileOperationRetryHandler.h>

#include "HostFixture.h"

namespace {

using GridApi::UncFileOperationRetryHandler;
using StravoStorageApi::FileOperationRetryHandler;

std::vector<std::uint32_t> codes(const FileOperationRetryHandler& handler) {
    std::vector<std::uint32_t> result;
    for (const auto& entry : handler.rules) result.push_back(entry.first);
    return result;
}

class HandlerTest : public gridtest::HostTest {};

// (Which rule each code is bound to, with its description, is RulesTest's.)
TEST_F(HandlerTest, EachHandlerHoldsItsRuleSet) {
    struct Case {
        const char* name;
        FileOperationRetryHandler* handler;
        std::vector<std::uint32_t> codes;
    };
    UncFileOperationRetryHandler unc("DeleteFile");
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
        EXPECT_EQ(c.codes, codes(*c.handler)) << c.name;
        for (const auto& entry : c.handler->rules) {
            EXPECT_EQ(c.name, entry.second->operationName) << entry.first;
        }
    }
}

TEST_F(HandlerTest, SettingsAreReadInRegistrationOrder) {
    StravoHostControl::setDatabaseSetting("NumRetriesOnBadNetName", 1);  // last rule, no bound: no line
    StravoHostControl::setDatabaseSetting("DirectoryNotEmptyWaitSeconds", 99);
    StravoHostControl::setDatabaseSetting("NumRetriesOnAccessDenied", 6);
    StravoHostControl::createPerformanceCounters();
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads);
    UncFileOperationRetryHandler handler("CopyFile");
    EXPECT_EQ(readsBefore + 42, StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads));
    const std::vector<std::string> expected = {
        "GRIDAPI-T-1111 limiting the 'Access Denied' number of retries to 5.",
        "GRIDAPI-T-1111 limiting the 'Directory Not Empty' wait time to 60 seconds.",
    };
    EXPECT_EQ(expected, lines());
    EXPECT_EQ(1u, handler.rules.at(67)->numRetries);
}

TEST_F(HandlerTest, PathIsDirectoryBuildsItsRulesTwice) {
    StravoHostControl::setDatabaseSetting("NumRetriesOnAccessDenied", 6);
    StravoHostControl::createPerformanceCounters();
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads);
    GridApi::PathIsDirectoryRetryHandler handler;
    EXPECT_EQ(readsBefore + 84, StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads));
    const std::string line = "GRIDAPI-T-1111 limiting the 'Access Denied' number of retries to 5.";
    EXPECT_EQ(std::vector<std::string>({line, line}), lines());
}

TEST_F(HandlerTest, CopiesShareTheirRules) {
    UncFileOperationRetryHandler source("WriteFile");
    UncFileOperationRetryHandler copy(source);
    UncFileOperationRetryHandler assigned("ReadFile");
    assigned = source;
    for (const UncFileOperationRetryHandler* handler : {&copy, &assigned}) {
        EXPECT_EQ("WriteFile", handler->operationName);
        ASSERT_EQ(source.rules.size(), handler->rules.size());
        for (const auto& entry : source.rules) {
            EXPECT_EQ(entry.second.get(), handler->rules.at(entry.first).get()) << entry.first;
        }
    }
    {
        const FileOperationRetryHandler::Rules before = source.rules;
        UncFileOperationRetryHandler& self = source;
        source = self;
        EXPECT_EQ(before, source.rules);
    }
    // A rule outlives a handler that drops it while someone else holds it.
    boost::shared_ptr<StravoStorageApi::FileOperationRetry> held = source.rules.at(64);
    source.rules.clear();
    copy.rules.clear();
    assigned.rules.clear();
    EXPECT_EQ(1, held.use_count());
    EXPECT_EQ("WriteFile", held->operationName);
}

}  // namespace
