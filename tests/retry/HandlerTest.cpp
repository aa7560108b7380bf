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

// (Which rule each code is bound to, with its description, is RulesTest's; that each rule carries its
// handler's name, the fault matrix's log lines; that PathIsDirectory's are built twice over,
// ConcurrencyStressTest's count of reads.)
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
    }
}

}  // namespace
