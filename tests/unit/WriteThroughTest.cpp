// The write-through setting is read once per process, at the first file creation: each case runs in
// a process of its own (FreshProcess.h).

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/GridFileServices.h>
#include <GridApi/SystemCalls.h>

#include "FreshProcess.h"
#include "HostFixture.h"

namespace {

struct Case {
    const char* name;
    bool present;       // the setting exists...
    int value;          // ...with this value
    DWORD callerFlags;  // what the caller asks for
    bool writeThrough;  // the bit reaches the platform's open
    int settingReads;   // reads of the setting over two opens
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WriteThroughTest : public gridtest::HostShareTest, public ::testing::WithParamInterface<Case> {};

TEST_P(WriteThroughTest, TheSettingDecidesTheBitAtTheFirstOpen) {
    if (!gridtest::inFreshProcess()) return;
    const Case& c = GetParam();
    if (c.present) StravoHostControl::setDatabaseSetting("UncCreateFileWriteThough", c.value);
    StravoHostControl::createPerformanceCounters();
    const PerfCounters::CounterType databaseReads = PerfCounters::DatabaseSettingsReads;
    gridtest::recordOpens();
    boost::shared_ptr<StravoStorageApi::FileServicesIf> services(createFileServices());

    const std::uint64_t before = StravoHostControl::performanceCounter(databaseReads);
    for (int i = 0; i < 2; ++i) {
        FileServicesHandle h = services->CreateFileA(path("wt.bin").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                                     c.callerFlags, FileServicesHandle());
        ASSERT_NE(INVALID_HANDLE_VALUE, static_cast<void*>(h));
        EXPECT_EQ(c.writeThrough, (h.getHandleRecreationInfo().flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0);
        services->CloseHandle(h);
    }
    ASSERT_EQ(2u, gridtest::recordedOpens().size());
    for (const gridtest::OpenRecord& open : gridtest::recordedOpens()) {
        EXPECT_EQ(c.writeThrough, (open.flags & FILE_FLAG_WRITE_THROUGH) != 0) << c.name;
    }
    // The CreateFile retry handler's fourteen rules read 42 settings besides.
    EXPECT_EQ(42u + c.settingReads, StravoHostControl::performanceCounter(databaseReads) - before);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, WriteThroughTest,
    ::testing::Values(Case{"Absent", false, 0, 0, true, 1}, Case{"Zero", true, 0, 0, false, 1},
                      Case{"Two", true, 2, 0, false, 1}, Case{"MinusOneIsReadAtEveryOpen", true, -1, 0, false, 2},
                      Case{"ZeroKeepsTheCallersOwnBit", true, 0, FILE_FLAG_WRITE_THROUGH, true, 1}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
