// What the settings reads of a first retrying call cost: building a retry handler reads every rule's
// settings from the database (42 reads), through the host's one read connection; against that, one
// read alone, and one read that opens the database itself as each read once did.

#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <GridApi/UncFileOperationRetryHandler.h>
#include <StravoHost/HostControl.h>

namespace {

// A settings database holding a few of the rules' keys (the others are absent and give defaults).
void prepareSettings() {
    StravoHostControl::resetToDefaults();
    StravoHostControl::setTrace(false);
    StravoHostControl::setDatabaseSetting("NumRetriesOnSharingViolation", 4);
    StravoHostControl::setDatabaseSetting("SharingViolationWaitSeconds", 2);
    StravoHostControl::setDatabaseSetting("FileRetryWaitError", 1);
    StravoHostControl::createPerformanceCounters();
}

void BM_FirstRetryingCall_SettingsReads(benchmark::State& state) {
    prepareSettings();
    const std::uint64_t before = StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads);
    for (auto _ : state) {
        GridApi::UncFileOperationRetryHandler handler("DeleteFileA");
        benchmark::DoNotOptimize(&handler);
    }
    const std::uint64_t reads = StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads) - before;
    state.counters["reads"] = static_cast<double>(reads) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FirstRetryingCall_SettingsReads)->Unit(benchmark::kMicrosecond);

void BM_DatabaseRead_SharedConnection(benchmark::State& state) {
    prepareSettings();
    for (auto _ : state) {
        std::uint32_t value = 0;
        CGlobalSettingHelperAdapter<CDBFactoryRetriever>()->getGlobalSetting("SharingViolationWaitSeconds", value, 5u);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_DatabaseRead_SharedConnection)->Unit(benchmark::kMicrosecond);

// The same read with a connection of its own, opened and closed around it.
void BM_DatabaseRead_OpenPerRead(benchmark::State& state) {
    prepareSettings();
    const std::string path = StravoHostControl::databaseFile();
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_stmt* query = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_prepare_v2(db, "SELECT value FROM global_settings WHERE key = ?1", -1, &query, nullptr);
        sqlite3_bind_text(query, 1, "SharingViolationWaitSeconds", -1, SQLITE_STATIC);
        benchmark::DoNotOptimize(sqlite3_step(query));
        sqlite3_finalize(query);
        sqlite3_close(db);
    }
}
BENCHMARK(BM_DatabaseRead_OpenPerRead)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
