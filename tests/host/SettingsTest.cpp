#include <StravoHost/HostControl.h>
#include <StravoHost/Settings.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "HeldLock.h"
#include "Watchdog.h"

namespace {

using StaticSingleton::CStaticSingleton;
using DbSettings = CGlobalSettingHelperAdapter<CDBFactoryRetriever>;
using NodeSettings = CGlobalSettingHelperAdapter<CRegFactoryRetriever>;

std::string temporaryPath(const std::string& name) {
    const char* dir = std::getenv("GRIDTEST_TMP");
    return std::string(dir && *dir ? dir : ".") + "/" + name;
}

#if !defined(_WIN32)
// For the node-local file (Linux; on Windows the node-local side is the registry).
void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}
#endif

// A read through the plug-in's adapter; the type of the default picks the signed or unsigned read.
template <class Adapter, class T>
T read(const std::string& key, T defaultValue) {
    T value = static_cast<T>(0x5EEDBEEF);
    Adapter()->getGlobalSetting(key, value, defaultValue);
    return value;
}

// A database read once a lock has gone: while the database is marked busy, one read in 0.1 s tries
// it, the others fail at once; so this tries for up to 1 s.
uint32_t readOnceUnlocked(const std::string& key) {
    for (int tries = 0; tries < 50; ++tries) {
        try {
            uint32_t value = 0;
            CGlobalSettingHelperAdapter<CDBFactoryRetriever>()->getGlobalSetting(key, value, 0u);
            return value;
        } catch (const SettingsError&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ADD_FAILURE() << key << ": still locked";
    return 0;
}

template <class Adapter>
std::string failureOf(const std::string& key) {
    try {
        read<Adapter>(key, 0u);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no exception)";
}

class HostSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        StravoHostControl::resetToDefaults();
        StravoHostControl::clearAllSettings();
    }
    void TearDown() override {
        StravoHostControl::resetToDefaults();
        StravoHostControl::clearAllSettings();
        StravoHostControl::resetPerformanceCounters();
    }
};

// Keys never set, cleared, set only in the other store, or in no store at all give the default.
TEST_F(HostSettings, AbsentKeysGiveTheDefault) {
    StravoHostControl::setDatabaseSetting("A", 1);
    StravoHostControl::setDatabaseSetting("B", 2);
    StravoHostControl::setDatabaseSetting("OnlyInDb", 11);
    StravoHostControl::setNodeLocalSetting("A", 3);
    StravoHostControl::setNodeLocalSetting("OnlyLocal", 12);
    StravoHostControl::clearDatabaseSetting("A");
    StravoHostControl::clearNodeLocalSetting("A");
    for (const char* key : {"NoSuchKey", "A", "OnlyLocal"}) {
        EXPECT_EQ(read<DbSettings>(key, 17u), 17u) << key;
        EXPECT_EQ(read<DbSettings>(key, -17), -17) << key;
    }
    for (const char* key : {"NoSuchKey", "A", "OnlyInDb"}) {
        EXPECT_EQ(read<NodeSettings>(key, 18u), 18u) << key;
        EXPECT_EQ(read<NodeSettings>(key, -18), -18) << key;
    }
    EXPECT_EQ(read<DbSettings>("B", 100u), 2u);
    EXPECT_EQ(read<NodeSettings>("OnlyLocal", 0u), 12u);

    StravoHostControl::setDatabaseFile("");
    StravoHostControl::setNodeLocalStore("");
    EXPECT_EQ(read<DbSettings>("B", 5u), 5u);
    EXPECT_EQ(read<NodeSettings>("OnlyLocal", 6u), 6u);
}

// Database reads share one connection: it sees writes made since and follows the side to another file.
TEST_F(HostSettings, DatabaseReadsSeeLaterWritesAndOtherFiles) {
    StravoHostControl::setDatabaseSetting("K", 1);
    EXPECT_EQ(read<DbSettings>("K", 0u), 1u);
    StravoHostControl::setDatabaseSetting("K", 2);
    EXPECT_EQ(read<DbSettings>("K", 0u), 2u);

    const std::string other = temporaryPath("host-settings-other.db");
    std::remove(other.c_str());
    StravoHostControl::setDatabaseFile(other);
    StravoHostControl::setDatabaseSetting("K", 3);
    std::vector<std::thread> readers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&wrong] {
            for (int i = 0; i < 100; ++i) {
                if (read<DbSettings>("K", 0u) != 3u) ++wrong;
            }
        });
    }
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(wrong.load(), 0);
    StravoHostControl::setDatabaseFile("");
    EXPECT_EQ(read<DbSettings>("K", 4u), 4u);  // no database: the connection lets the file go
    EXPECT_EQ(std::remove(other.c_str()), 0);
}

// What either store holds, read as signed; from the database, SettingsError where the value does not
// fit (the registry cannot hold such a value at all). The unsigned reads are HostileSettingsTest's.
TEST_F(HostSettings, StoredValuesAreReadSignedFromEitherStoreOrRefused) {
    const struct {
        int64_t stored;
        bool refused;
    } cases[] = {{-1, false}, {2147483647, false}, {-2147483647LL - 1, false}, {4294967296LL, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        StravoHostControl::setDatabaseSetting("Value", c.stored);
        if (c.refused) {
            EXPECT_THROW(read<DbSettings>("Value", 9), SettingsError);
            continue;
        }
        StravoHostControl::setNodeLocalSetting("Value", c.stored);
        EXPECT_EQ(read<DbSettings>("Value", 9), static_cast<int32_t>(c.stored));
        EXPECT_EQ(read<NodeSettings>("Value", 9), static_cast<int32_t>(c.stored));
    }
}

TEST_F(HostSettings, WritesWithoutANamedStoreUseAPrivateOne) {
    StravoHostControl::setNodeLocalSetting("Private", 1);
    StravoHostControl::setDatabaseSetting("Private", 2);
    const std::string store = StravoHostControl::nodeLocalStore();
    EXPECT_NE(store, "");
#if defined(_WIN32)
    // Never the shared default key, so test processes running side by side do not meet.
    EXPECT_NE(store, "SOFTWARE\\Stravo\\GlobalSettings");
#endif
    EXPECT_NE(StravoHostControl::databaseFile(), "");
    StravoHostControl::setNodeLocalSetting("Private", 3);
    EXPECT_EQ(StravoHostControl::nodeLocalStore(), store);
    EXPECT_EQ(read<NodeSettings>("Private", 0u), 3u);
}

TEST_F(HostSettings, GlobalConfigNamesTheNodeLocalKeys) {
    GlobalConfig& config = CStaticSingleton<GlobalConfig>::instance();
    EXPECT_FALSE(config.isNodeLocalConfig("CacheSize"));
    StravoHostControl::setNodeLocalKey("CacheSize", true);
    EXPECT_TRUE(config.isNodeLocalConfig("CacheSize"));
    EXPECT_FALSE(config.isNodeLocalConfig("cachesize"));
    EXPECT_FALSE(config.isNodeLocalConfig("RetryCount"));
    StravoHostControl::setNodeLocalKey("CacheSize", false);
    EXPECT_FALSE(config.isNodeLocalConfig("CacheSize"));
}

// Another process's exclusive transaction: the reads fail with SQLite's message (42 of them within
// the watchdog's limit: one busy timeout, not one per read); once the lock has gone, a read has the
// value, and that read ends the mark: the next lock, here one that another thread lifts after
// 0.3 s, is waited for again.
TEST_F(HostSettings, ALockedDatabaseIsWaitedForOnceAndAgainOnceFound) {
    StravoHostControl::setDatabaseSetting("K", 7);
    const std::string path = StravoHostControl::databaseFile();
    gridtest::runWithin(
        gridtest::Seconds(10.0),  // one busy wait is 1.5 s; one per read would be over a minute
        [&] {
            std::unique_ptr<gridtest::HeldLock> lock(new gridtest::HeldLock(path, gridtest::LockKind::sqliteExclusive));
            ASSERT_TRUE(lock->held());
            for (int read = 0; read < 42; ++read) EXPECT_EQ("database is locked", failureOf<DbSettings>("K")) << read;
            lock.reset();
            EXPECT_EQ(7u, readOnceUnlocked("K"));

            lock.reset(new gridtest::HeldLock(path, gridtest::LockKind::sqliteExclusive));
            std::thread lifter([&lock] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                lock.reset();
            });
            EXPECT_EQ(7u, read<DbSettings>("K", 0u));
            lifter.join();
        },
        "a locked database, read free, locked for a moment");
}

// A failure injected on one side leaves the other side's reads. (The injected failures themselves are
// RulesTest's, the database's message traced and the node-local side's thrown, and their clearing RunTest's.)
TEST_F(HostSettings, AnInjectedFailureLeavesTheOtherSide) {
    StravoHostControl::setDatabaseSetting("K", 1);
    StravoHostControl::setNodeLocalSetting("K", 2);
    StravoHostControl::failDatabaseSettings("database is locked");
    EXPECT_EQ(read<NodeSettings>("K", 0u), 2u);
    StravoHostControl::clearSettingsFailures();
    StravoHostControl::failNodeLocalSettings("registry unavailable");
    EXPECT_EQ(read<DbSettings>("K", 0u), 1u);
}

#if !defined(_WIN32)
TEST_F(HostSettings, NodeLocalFileSyntax) {
    const std::string ini = temporaryPath("host-settings-node.ini");
    writeFile(ini,
              "# node settings\n"
              "[GlobalSettings]\n"
              "  RetryCount = 7   # trailing comment\n"
              "Mask=0x1F\n"
              "Offset = -12\n"
              "; Commented = 3\n"
              "Twice = 1\n"
              "twice = 2\n"
              "Broken = 12abc\n");
    StravoHostControl::setNodeLocalStore(ini);
    EXPECT_EQ(read<NodeSettings>("RetryCount", 0u), 7u);
    EXPECT_EQ(read<NodeSettings>("retrycount", 0u), 7u);
    EXPECT_EQ(read<NodeSettings>("Mask", 0u), 31u);
    EXPECT_EQ(read<NodeSettings>("Offset", 0), -12);
    EXPECT_EQ(read<NodeSettings>("Commented", 99u), 99u);
    EXPECT_EQ(read<NodeSettings>("Twice", 0u), 2u);
    EXPECT_THROW(read<NodeSettings>("Broken", 0u), SettingsError);
    EXPECT_THROW(read<NodeSettings>("Offset", 0u), SettingsError);

    // Writes keep the rest of the file.
    StravoHostControl::setNodeLocalSetting("Mask", 2);
    EXPECT_EQ(read<NodeSettings>("Mask", 0u), 2u);
    EXPECT_EQ(read<NodeSettings>("RetryCount", 0u), 7u);
    std::remove(ini.c_str());
}

// The node-local file is read up to 1 MiB: a file of exactly that size is read, one byte more is refused.
TEST_F(HostSettings, NodeLocalFileIsReadUpToOneMebibyte) {
    const std::string ini = temporaryPath("host-settings-size.ini");
    const std::string setting = "RetryCount = 7\n";
    for (const std::size_t size : {std::size_t(1024 * 1024), std::size_t(1024 * 1024 + 1)}) {
        // The setting, then a comment that fills the file up to the size.
        writeFile(ini, setting + "#" + std::string(size - setting.size() - 2, 'x') + "\n");
        StravoHostControl::setNodeLocalStore(ini);
        EXPECT_EQ(size == 1024 * 1024 ? "(no exception)" : "cannot read " + ini + ": larger than 1048576 bytes",
                  failureOf<NodeSettings>("RetryCount"));
    }
    std::remove(ini.c_str());
}
#endif

// The counters exist once made, no settings read makes them, and a read counts nothing: the plug-in
// counts its database reads itself (counter 4; RulesTest and WriteThroughTest hold it to exact counts).
TEST_F(HostSettings, CountersExistOnDemandAndSettingsReadsCountNothing) {
    StravoHostControl::resetPerformanceCounters();
    StravoHostControl::setDatabaseSetting("A", 5);
    read<DbSettings>("A", 0u);
    EXPECT_FALSE(CStaticSingleton<PerformanceCountersManager>::instanceExists());
    StravoHostControl::createPerformanceCounters();
    EXPECT_TRUE(CStaticSingleton<PerformanceCountersManager>::instanceExists());
    read<DbSettings>("Missing", 0);
    read<NodeSettings>("A", 0u);
    EXPECT_EQ(StravoHostControl::performanceCounter(PerfCounters::FileOperations), 0u);
    EXPECT_EQ(StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads), 0u);
    StravoHostControl::resetPerformanceCounters();
    EXPECT_FALSE(CStaticSingleton<PerformanceCountersManager>::instanceExists());
}

TEST(HostPerformanceCounters, IncrementsFromManyThreadsAddUp) {
    StravoHostControl::resetPerformanceCounters();
    PerformanceCountersManager& counters = CStaticSingleton<PerformanceCountersManager>::instance();
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&counters] {
            for (int i = 0; i < 10000; ++i) counters.incrementCounter(PerfCounters::Retries);
        });
    }
    for (std::thread& worker : workers) worker.join();
    counters.incrementCounter(PerfCounters::Reconnects);
    counters.incrementCounter(static_cast<PerfCounters::CounterType>(99));
    EXPECT_EQ(counters.counter(PerfCounters::Retries), 40000u);
    EXPECT_EQ(StravoHostControl::performanceCounter(PerfCounters::Retries), 40000u);
    EXPECT_EQ(counters.counter(PerfCounters::Reconnects), 1u);
    EXPECT_EQ(counters.counter(static_cast<PerfCounters::CounterType>(99)), 0u);
    EXPECT_EQ(static_cast<int>(PerfCounters::DatabaseSettingsReads), 4);
    StravoHostControl::resetPerformanceCounters();
}

}  // namespace
