#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>
#include <GridApi/SystemCalls.h>

#include "HostFixture.h"

namespace {

using GridApi::Fault;
using GridApi::FaultInjector;

class SystemCallsTest : public gridtest::HostTest {
  protected:
    void TearDown() override {
        GridApi::restoreSystemCalls();
        HostTest::TearDown();
    }
};

// Which of `calls` calls of GetFileAttributesA fail under a fault: a string of 'x' (failed) and '.'.
std::string pattern(const Fault& fault, int calls) {
    EXPECT_TRUE(FaultInjector::add(fault));
    const std::string share = gridtest::shareRoot();
    std::string seen;
    for (int i = 0; i < calls; ++i) {
        SetLastError(0);
        const DWORD attributes = GridApi::systemCalls().GetFileAttributesA(share.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            EXPECT_EQ(fault.error, GetLastError());
            seen += 'x';
        } else {
            EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
            seen += '.';
        }
    }
    return seen;
}

TEST_F(SystemCallsTest, FaultWindowsFailExactlyTheChosenCalls) {
    struct Case {
        std::uint64_t fromCall;
        std::uint64_t count;
        const char* expected;
    };
    // A window of one call and an unbounded one from the first call are what the fault matrix uses.
    const Case cases[] = {{3, 2, "..xx.."}, {5, 0, "....xx"}};
    for (const Case& c : cases) {
        Fault fault;
        fault.call = "GetFileAttributesA";
        fault.error = ERROR_NETNAME_DELETED;
        fault.fromCall = c.fromCall;
        fault.count = c.count;
        EXPECT_EQ(c.expected, pattern(fault, 6)) << c.fromCall << "/" << c.count;
        EXPECT_EQ(6u, FaultInjector::calls("GetFileAttributesA"));
    }
}

TEST_F(SystemCallsTest, FaultsThatMeanNothingAreRefused) {
    struct Row {
        const char* name;
        const char* call;
        std::uint64_t fromCall;
        double probability;
    };
    const Row rows[] = {
        {"unknown call", "NoSuchCall", 1, 1.0},
        {"call 0 (calls count from 1)", "GetFileAttributesA", 0, 1.0},
        {"probability outside [0, 1]", "GetFileAttributesA", 1, 1.5},
    };
    for (const Row& row : rows) {
        Fault fault;
        fault.call = row.call;
        fault.error = ERROR_BAD_NETPATH;
        fault.fromCall = row.fromCall;
        fault.probability = row.probability;
        EXPECT_FALSE(FaultInjector::add(fault)) << row.name;
        EXPECT_EQ(GridApi::getDefaultSystemCall("GetFileAttributesA"), GridApi::getSystemCall("GetFileAttributesA"))
            << row.name;
    }
}

// A chaos drill on a live host: faults switched on and off while eight threads make calls. Every
// call either fails with the fault's error or answers as the platform does; under ThreadSanitizer
// (the linux-tsan preset) the run must be free of data races.
TEST_F(SystemCallsTest, FaultsSwitchOnAndOffWhileThreadsCall) {
    const std::string share = gridtest::shareRoot();
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 400; ++i) {
                const DWORD attributes = GridApi::systemCalls().GetFileAttributesA(share.c_str());
                if (attributes == INVALID_FILE_ATTRIBUTES) {
                    failed.fetch_add(1);
                    if (GetLastError() != ERROR_NETNAME_DELETED) wrong.fetch_add(1);
                } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    wrong.fetch_add(1);
                }
            }
        });
    }
    std::thread drill([&] {
        Fault fault;
        fault.call = "GetFileAttributesA";
        fault.error = ERROR_NETNAME_DELETED;
        fault.probability = 0.5;
        while (!done.load()) {
            FaultInjector::add(fault);
            std::this_thread::yield();
            FaultInjector::calls(fault.call);
            FaultInjector::clear();
        }
    });
    for (std::thread& caller : callers) caller.join();
    done.store(true);
    drill.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_LT(failed.load(), 8 * 400);
    EXPECT_EQ(GridApi::getDefaultSystemCall("GetFileAttributesA"), GridApi::getSystemCall("GetFileAttributesA"));
}

}  // namespace
