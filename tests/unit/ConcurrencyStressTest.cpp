// Sixteen threads on one file-services object, all starting at the same moment, so that the first
// calls of each operation race: each retry handler must be built once however many threads race on
// its first use. Every thread then opens, writes, reads back and closes its own file round after
// round while transfers and opens fail at random: every operation must end as without faults and
// every file must hold exactly what its thread wrote. Run under ThreadSanitizer by the linux-tsan
// preset, where any data race fails the test. It runs in a process of its own (FreshProcess.h): the
// handlers are built once per process.

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/GridFileServices.h>

#include "FreshProcess.h"
#include "HostFixture.h"

namespace {

using gridtest::readFile;

const int threadCount = 16;
const int rounds = 40;
const DWORD chunk = 1024;

class ConcurrencyStressTest : public gridtest::ServicesTest {};

TEST_F(ConcurrencyStressTest, FirstCallsAtOnceThenMixedOperationsOnSeparateHandlesUnderFaults) {
    if (!gridtest::inFreshProcess()) return;
    // A count above its bound is logged once per rule built: one line per handler built.
    StravoHostControl::setDatabaseSetting("NumRetriesOnAccessDenied", 9);
    const std::pair<const char*, DWORD> faults[] = {
        {"WriteFile", ERROR_NETNAME_DELETED}, {"ReadFile", ERROR_INVALID_HANDLE}, {"CreateFileA", ERROR_BAD_NETPATH}};
    for (const auto& fault : faults) gridtest::failCalls(fault.first, fault.second, 0, 0.03);

    std::mutex mutex;
    std::condition_variable started;
    int arrived = 0;
    std::vector<std::string> failed;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            StravoStorageApi::FileServicesIf& s = *services_;
            const std::string name = path("m" + std::to_string(t));
            auto fail = [&](const char* what, int round) {
                std::lock_guard<std::mutex> lock(mutex);
                failed.push_back(std::string(what) + " in thread " + std::to_string(t) + " round " +
                                 std::to_string(round) + ": error " + std::to_string(GetLastError()));
            };
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (++arrived == threadCount) started.notify_all();
                started.wait(lock, [&] { return arrived == threadCount; });
            }
            std::vector<char> data(chunk), back(chunk);
            for (int round = 0; round < rounds; ++round) {
                FileServicesHandle h = s.CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                     OPEN_ALWAYS, 0, FileServicesHandle());
                if (static_cast<void*>(h) == INVALID_HANDLE_VALUE) {
                    fail("CreateFileA", round);
                    continue;
                }
                LARGE_INTEGER at;
                at.QuadPart = static_cast<LONGLONG>(round) * chunk;
                std::fill(data.begin(), data.end(), static_cast<char>(t * rounds + round));
                DWORD done = 0;
                // With the new position asked for: only then is it kept for a handle re-created by a retry.
                LARGE_INTEGER now;
                if (!s.SetFilePointerEx(h, at, &now, FILE_BEGIN) || now.QuadPart != at.QuadPart)
                    fail("SetFilePointerEx", round);
                if (!s.WriteFile(h, data.data(), chunk, &done, nullptr) || done != chunk) fail("WriteFile", round);
                if (s.SetFilePointer(h, -static_cast<LONG>(chunk), nullptr, FILE_CURRENT) == INVALID_SET_FILE_POINTER)
                    fail("SetFilePointer", round);
                if (!s.ReadFile(h, back.data(), chunk, &done, nullptr) || back != data) fail("ReadFile", round);
                if (!s.CloseHandle(h)) fail("CloseHandle", round);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::uint64_t injected = 0;
    for (const auto& fault : faults) injected += GridApi::FaultInjector::injected(fault.first);
    GridApi::FaultInjector::clear();
    EXPECT_EQ(std::vector<std::string>(), failed);
    EXPECT_GT(injected, 20u);

    // Three handlers (CreateFile, WriteFile, ReadFile), each built once.
    const std::vector<std::string> logged = lines();
    EXPECT_EQ(3, std::count_if(logged.begin(), logged.end(), [](const std::string& line) {
                  return line.find("limiting the 'Access Denied' number of retries to 5") != std::string::npos;
              }));

    // Every file holds its thread's rounds, read back past the object and without faults.
    for (int t = 0; t < threadCount; ++t) {
        std::string expected;
        for (int round = 0; round < rounds; ++round)
            expected += std::string(chunk, static_cast<char>(t * rounds + round));
        EXPECT_TRUE(readFile(path("m" + std::to_string(t))) == expected) << "thread " << t;
    }
}

}  // namespace
