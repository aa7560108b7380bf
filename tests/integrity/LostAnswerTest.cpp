// What the object's caller sees when the share loses the answer of a call that did its work: the
// library repeats (or the caller repeats) an operation that has already happened, and the repeat
// meets the result of the first. One row per class of what the repeat meets.

#include <functional>
#include <ostream>
#include <string>

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>
#include <GridApi/GridFileServices.h>

#include "HostFixture.h"

namespace {

typedef boost::shared_ptr<StravoStorageApi::FileServicesIf> Services;

// The faulted call, the operation, and what the caller sees: result, last error, granted retries,
// and whether the target exists after.
struct Row {
    const char* name;
    const char* faultedCall;
    bool fileBefore;
    std::function<BOOL(Services&, const std::string&)> operation;
    BOOL result;
    DWORD lastError;
    int retries;
    bool fileAfter;
};

BOOL openWith(Services& s, const std::string& file, DWORD disposition) {
    FileServicesHandle h = s->CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                                          FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
    if (static_cast<void*>(h) == INVALID_HANDLE_VALUE) return FALSE;
    const DWORD error = GetLastError();
    s->CloseHandle(h);
    SetLastError(error);
    return TRUE;
}

const Row rows[] = {
    {"DeleteFileA: the repeat meets 2, retried until the rule runs out", "DeleteFileA", true,
     [](Services& s, const std::string& f) { return s->DeleteFileA(f.c_str()); }, FALSE, ERROR_FILE_NOT_FOUND, 16,
     false},
    {"CreateFileA CREATE_ALWAYS: a handle, with 183 as if the file had been there", "CreateFileA", false,
     [](Services& s, const std::string& f) { return openWith(s, f, CREATE_ALWAYS); }, TRUE, ERROR_ALREADY_EXISTS, 1,
     true},
    {"CloseHandle (one attempt): FALSE with 64, and the caller's repeat meets 6", "CloseHandle", true,
     [](Services& s, const std::string& f) {
         FileServicesHandle h =
             s->CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, FileServicesHandle());
         if (s->CloseHandle(h) || GetLastError() != ERROR_NETNAME_DELETED) return TRUE;
         return s->CloseHandle(h);
     },
     FALSE, ERROR_INVALID_HANDLE, 0, true},
};

// The row's operation (its name up to the colon), for the test's name.
void PrintTo(const Row& row, std::ostream* out) {
    const std::string name = row.name;
    *out << name.substr(0, name.find(':'));
}

class LostAnswerTest : public gridtest::HostShareTest, public ::testing::WithParamInterface<Row> {};

TEST_P(LostAnswerTest, TheCallerSeesWhatTheRepeatMeets) {
    const Row& row = GetParam();
    Services services(createFileServices());
    int retries = 0;
    services->setRetryWaiter([&retries](const StravoStorageApi::RetryStep& step) {
        const bool again = step();
        retries += again ? 1 : 0;
        return again;
    });
    const std::string file = path("target");
    if (row.fileBefore) {
        ASSERT_TRUE(openWith(services, file, CREATE_NEW));
    }
    GridApi::Fault fault;
    fault.call = row.faultedCall;
    fault.error = ERROR_NETNAME_DELETED;
    fault.count = 1;
    fault.mode = GridApi::FaultMode::lostAnswer;
    ASSERT_TRUE(GridApi::FaultInjector::add(fault));

    SetLastError(ERROR_SUCCESS);
    const BOOL result = row.operation(services, file);
    const DWORD error = GetLastError();
    GridApi::FaultInjector::clear();
    EXPECT_EQ(row.result, result);
    EXPECT_EQ(row.lastError, error);
    EXPECT_EQ(row.retries, retries);
    EXPECT_EQ(row.fileAfter, GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(1u, GridApi::FaultInjector::injected(row.faultedCall));
}

INSTANTIATE_TEST_SUITE_P(Operations, LostAnswerTest, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::to_string(info.index); });

}  // namespace
