// Sixteen threads on one file-services object. First, all of them make the first call of every
// operation at the same moment: each retry handler must be built once however many threads race on
// its first use, and the write-through setting read at most once per thread. Then mixed operations
// on separate handles while transfers, opens and queries fail at random: every operation must end
// as without faults and every file must hold exactly what its thread wrote. Run under
// ThreadSanitizer by the linux-tsan preset, where any data race fails the test. The first calls run
// in a process of their own (FreshProcess.h): the handlers are built once per process.

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/GridFileServices.h>

#include "FreshProcess.h"
#include "HostFixture.h"

namespace {

const int threadCount = 16;
const PerfCounters::CounterType databaseReads = PerfCounters::DatabaseSettingsReads;

// All threads leave wait() together, once the last one has arrived.
class Barrier {
  public:
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        const unsigned generation = generation_;
        if (++arrived_ == threadCount) {
            arrived_ = 0;
            ++generation_;
            released_.notify_all();
        } else {
            released_.wait(lock, [&] { return generation != generation_; });
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    int arrived_ = 0;
    unsigned generation_ = 0;
};

class ConcurrencyStressTest : public gridtest::ServicesTest {
  protected:
    void runThreads(const std::function<void(int)>& body) {
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) threads.emplace_back(body, t);
        for (std::thread& thread : threads) thread.join();
    }
};

// One thread's names and open handles.
struct Own {
    std::string dir, wideDir, file, copy, moved;
    FileServicesHandle handle, search;
    char data[4096];
};

TEST_F(ConcurrencyStressTest, FirstCallsOfEveryOperationAtOnceBuildEachHandlerOnce) {
    if (!gridtest::inFreshProcess()) return;
    // A count above its bound is logged once per rule built: one line per handler built.
    StravoHostControl::setDatabaseSetting("NumRetriesOnAccessDenied", 9);
    StravoHostControl::createPerformanceCounters();
    const std::uint64_t readsBefore = StravoHostControl::performanceCounter(databaseReads);
    StravoStorageApi::FileServicesIf& s = *services_;

    typedef std::function<bool(Own&)> Step;
    const std::vector<std::pair<const char*, Step>> steps = {
        {"CreateDirectoryA", [&](Own& o) { return s.CreateDirectoryA(o.dir.c_str(), nullptr) != 0; }},
        {"CreateDirectoryW",
         [&](Own& o) { return s.CreateDirectoryW(std::wstring(o.wideDir.begin(), o.wideDir.end()).c_str(), nullptr); }},
        {"CreateFileA",
         [&](Own& o) {
             o.handle = s.CreateFileA(o.file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                      FileServicesHandle());
             return static_cast<void*>(o.handle) != INVALID_HANDLE_VALUE;
         }},
        {"WriteFile",
         [&](Own& o) {
             DWORD done = 0;
             return s.WriteFile(o.handle, o.data, sizeof o.data, &done, nullptr) && done == sizeof o.data;
         }},
        {"SetFilePointer", [&](Own& o) { return s.SetFilePointer(o.handle, 0, nullptr, FILE_BEGIN) == 0; }},
        {"ReadFile",
         [&](Own& o) {
             char back[sizeof o.data];
             DWORD done = 0;
             return s.ReadFile(o.handle, back, sizeof back, &done, nullptr) && done == sizeof back &&
                    std::equal(back, back + sizeof back, o.data);
         }},
        {"SetFilePointerEx",
         [&](Own& o) {
             LARGE_INTEGER to, now;
             to.QuadPart = 100;
             return s.SetFilePointerEx(o.handle, to, &now, FILE_BEGIN) && now.QuadPart == 100;
         }},
        {"SetEndOfFile", [&](Own& o) { return s.SetEndOfFile(o.handle) != 0; }},
        {"GetFileSize", [&](Own& o) { return s.GetFileSize(o.handle, nullptr) == 100; }},
        {"GetFileSizeEx",
         [&](Own& o) {
             LARGE_INTEGER size;
             return s.GetFileSizeEx(o.handle, &size) && size.QuadPart == 100;
         }},
        {"LockFileEx",
         [&](Own& o) {
             OVERLAPPED at = {};
             return s.LockFileEx(o.handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 10, 0, &at) != 0;
         }},
        {"UnlockFileEx",
         [&](Own& o) {
             OVERLAPPED at = {};
             return s.UnlockFileEx(o.handle, 0, 10, 0, &at) != 0;
         }},
        {"FlushFileBuffers",  // with write-through a no-op: FALSE, the last error left alone
         [&](Own& o) {
             SetLastError(0);
             return s.FlushFileBuffers(o.handle) || GetLastError() == 0;
         }},
        {"CloseHandle", [&](Own& o) { return s.CloseHandle(o.handle) != 0; }},
        {"GetFileAttributesA", [&](Own& o) { return s.GetFileAttributesA(o.file.c_str()) != INVALID_FILE_ATTRIBUTES; }},
        {"GetFileAttributesExA",
         [&](Own& o) {
             WIN32_FILE_ATTRIBUTE_DATA data;
             return s.GetFileAttributesExA(o.file.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow == 100;
         }},
        {"SetFileAttributesA",
         [&](Own& o) { return s.SetFileAttributesA(o.file.c_str(), FILE_ATTRIBUTE_ARCHIVE) != 0; }},
        {"PathFileExistsA", [&](Own& o) { return s.PathFileExistsA(o.file.c_str()) != 0; }},
        {"PathIsDirectoryA", [&](Own& o) { return s.PathIsDirectoryA(o.dir.c_str()) != 0; }},
        {"PathIsDirectoryEmptyA", [&](Own& o) { return s.PathIsDirectoryEmptyA(o.wideDir.c_str()) != 0; }},
        {"CopyFileA", [&](Own& o) { return s.CopyFileA(o.file.c_str(), o.copy.c_str(), TRUE) != 0; }},
        {"MoveFileA", [&](Own& o) { return s.MoveFileA(o.copy.c_str(), o.moved.c_str(), MOVEFILE_COPY_ALLOWED); }},
        {"FindFirstFileA",
         [&](Own& o) {
             WIN32_FIND_DATAA data;
             o.search = s.FindFirstFileA((o.dir + "\\*").c_str(), &data);
             return static_cast<void*>(o.search) != INVALID_HANDLE_VALUE;
         }},
        {"FindNextFileA",
         [&](Own& o) {
             WIN32_FIND_DATAA data;
             return s.FindNextFileA(o.search, &data) != 0;
         }},
        {"FindClose", [&](Own& o) { return s.FindClose(o.search) != 0; }},
        {"GetDiskFreeSpaceA",
         [&](Own& o) {
             DWORD a, b, c, d;
             return s.GetDiskFreeSpaceA(o.dir.c_str(), &a, &b, &c, &d) != 0;
         }},
        {"GetDiskFreeSpaceExA",
         [&](Own& o) {
             ULARGE_INTEGER a, b, c;
             return s.GetDiskFreeSpaceExA(o.dir.c_str(), &a, &b, &c) != 0;
         }},
        {"GetTempFileNameA",
         [&](Own& o) {
             char name[MAX_PATH];
             return s.GetTempFileNameA(o.dir.c_str(), "st", 0, name) != 0;
         }},
        {"SetCurrentDirectoryA", [&](Own&) { return s.SetCurrentDirectoryA(dir().c_str()) != 0; }},
        {"GetCurrentDirectoryA",
         [&](Own&) {
             char now[MAX_PATH];
             return s.GetCurrentDirectoryA(sizeof now, now) != 0;
         }},
        {"DeleteFileA", [&](Own& o) { return s.DeleteFileA(o.moved.c_str()) != 0; }},
        {"RemoveDirectoryA",
         [&](Own& o) { return s.RemoveDirectoryA(o.dir.c_str(), 1) && s.RemoveDirectoryA(o.wideDir.c_str(), 0); }},
    };

    Barrier barrier;
    std::mutex mutex;
    std::vector<std::string> failed;
    runThreads([&](int t) {
        Own o;
        o.dir = path("d" + std::to_string(t));
        o.wideDir = path("w" + std::to_string(t));
        o.file = o.dir + "\\f.bin";
        o.copy = o.dir + "\\copy.bin";
        o.moved = o.dir + "\\moved.bin";
        std::fill(o.data, o.data + sizeof o.data, static_cast<char>('a' + t));
        for (const auto& step : steps) {
            barrier.wait();
            if (!step.second(o)) {
                std::lock_guard<std::mutex> lock(mutex);
                failed.push_back(std::string(step.first) + " in thread " + std::to_string(t) + ": error " +
                                 std::to_string(GetLastError()));
            }
        }
    });
    EXPECT_EQ(std::vector<std::string>(), failed);

    // Eighteen handlers, PathIsDirectory's built twice over: nineteen rule sets of 42 reads each.
    const std::vector<std::string> logged = lines();
    EXPECT_EQ(19, std::count_if(logged.begin(), logged.end(), [](const std::string& line) {
                  return line.find("limiting the 'Access Denied' number of retries to 5") != std::string::npos;
              }));
    const std::uint64_t writeThroughReads =
        StravoHostControl::performanceCounter(databaseReads) - readsBefore - 19 * 42;
    EXPECT_GE(writeThroughReads, 1u);
    EXPECT_LE(writeThroughReads, static_cast<std::uint64_t>(threadCount));
}

TEST_F(ConcurrencyStressTest, MixedOperationsOnSeparateHandlesUnderFaults) {
    struct Plan {
        const char* call;
        DWORD error;
    };
    const Plan plans[] = {{"WriteFile", ERROR_NETNAME_DELETED},
                          {"ReadFile", ERROR_INVALID_HANDLE},
                          {"CreateFileA", ERROR_BAD_NETPATH},
                          {"GetFileAttributesA", ERROR_UNEXP_NET_ERR}};
    for (const Plan& plan : plans) gridtest::failCalls(plan.call, plan.error, 0, 0.03);

    const int rounds = 40;
    const DWORD chunk = 1024;
    std::mutex mutex;
    std::vector<std::string> failed;
    runThreads([&](int t) {
        StravoStorageApi::FileServicesIf& s = *services_;
        const std::string name = path("m" + std::to_string(t));
        auto fail = [&](const char* what, int round) {
            std::lock_guard<std::mutex> lock(mutex);
            failed.push_back(std::string(what) + " in thread " + std::to_string(t) + " round " + std::to_string(round) +
                             ": error " + std::to_string(GetLastError()));
        };
        std::vector<char> data(chunk), back(chunk);
        for (int round = 0; round < rounds; ++round) {
            FileServicesHandle h = s.CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0,
                                                 FileServicesHandle());
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
            if (s.GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) fail("GetFileAttributesA", round);
            if (!s.CloseHandle(h)) fail("CloseHandle", round);
        }
    });
    std::uint64_t injected = 0;
    for (const Plan& plan : plans) injected += GridApi::FaultInjector::injected(plan.call);
    GridApi::FaultInjector::clear();
    RecordProperty("faultsInjected", static_cast<int>(injected));
    EXPECT_EQ(std::vector<std::string>(), failed);
    EXPECT_GT(injected, 20u);

    // Every file holds its thread's rounds, read back past the object and without faults.
    for (int t = 0; t < threadCount; ++t) {
        HANDLE h =
            CreateFileA(path("m" + std::to_string(t)).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        std::vector<char> all(rounds * chunk + 1);
        DWORD done = 0;
        EXPECT_TRUE(ReadFile(h, all.data(), static_cast<DWORD>(all.size()), &done, nullptr));
        CloseHandle(h);
        ASSERT_EQ(rounds * chunk, done) << "thread " << t;
        for (int round = 0; round < rounds; ++round) {
            EXPECT_EQ(std::string(chunk, static_cast<char>(t * rounds + round)),
                      std::string(all.data() + round * chunk, chunk))
                << "thread " << t << " round " << round;
        }
    }
}

}  // namespace
