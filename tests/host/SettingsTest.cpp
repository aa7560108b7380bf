#include <StravoHost/HostControl.h>
#include <StravoHost/Settings.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using StaticSingleton::CStaticSingleton;
using DbSettings = CGlobalSettingHelperAdapter<CDBFactoryRetriever>;
using NodeSettings = CGlobalSettingHelperAdapter<CRegFactoryRetriever>;

std::string temporaryPath(const std::string& name) {
    const char* dir = std::getenv("GRIDTEST_TMP");
    return std::string(dir && *dir ? dir : ".") + "/" + name;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

template <class Adapter>
uint32_t readUnsigned(const std::string& key, uint32_t defaultValue) {
    uint32_t value = 0xDEADBEEF;
    Adapter()->getGlobalSetting(key, value, defaultValue);
    return value;
}

template <class Adapter>
int32_t readSigned(const std::string& key, int32_t defaultValue) {
    int32_t value = 0x5EEDBEEF;
    Adapter()->getGlobalSetting(key, value, defaultValue);
    return value;
}

template <class Adapter>
std::string failureOf(const std::string& key) {
    try {
        readUnsigned<Adapter>(key, 0);
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

TEST_F(HostSettings, AbsentKeysGiveTheDefault) {
    EXPECT_EQ(readUnsigned<DbSettings>("NoSuchKey", 17u), 17u);
    EXPECT_EQ(readSigned<DbSettings>("NoSuchKey", -17), -17);
    EXPECT_EQ(readUnsigned<NodeSettings>("NoSuchKey", 18u), 18u);
    EXPECT_EQ(readSigned<NodeSettings>("NoSuchKey", -18), -18);
}

TEST_F(HostSettings, NoStoreConfiguredMeansEveryKeyIsAbsent) {
    StravoHostControl::setDatabaseSetting("RetryCount", 1);
    StravoHostControl::setNodeLocalSetting("RetryCount", 2);
    StravoHostControl::setDatabaseFile("");
    StravoHostControl::setNodeLocalStore("");
    EXPECT_EQ(readUnsigned<DbSettings>("RetryCount", 5u), 5u);
    EXPECT_EQ(readUnsigned<NodeSettings>("RetryCount", 6u), 6u);
}

struct StoredCase {
    int64_t stored;
    bool asUnsigned;
    int64_t expected;
};

TEST_F(HostSettings, StoredValuesAreReadFromEitherStore) {
    const StoredCase cases[] = {
        {0, true, 0},
        {42, true, 42},
        {4294967295LL, true, 4294967295LL},
        {-1, false, -1},
        {2147483647, false, 2147483647},
        {-2147483647LL - 1, false, -2147483647LL - 1},
    };
    for (const StoredCase& c : cases) {
        StravoHostControl::setDatabaseSetting("Value", c.stored);
        StravoHostControl::setNodeLocalSetting("Value", c.stored);
        if (c.asUnsigned) {
            EXPECT_EQ(readUnsigned<DbSettings>("Value", 9u), static_cast<uint32_t>(c.expected)) << c.stored;
            EXPECT_EQ(readUnsigned<NodeSettings>("Value", 9u), static_cast<uint32_t>(c.expected)) << c.stored;
        } else {
            EXPECT_EQ(readSigned<DbSettings>("Value", 9), static_cast<int32_t>(c.expected)) << c.stored;
            EXPECT_EQ(readSigned<NodeSettings>("Value", 9), static_cast<int32_t>(c.expected)) << c.stored;
        }
    }
}

TEST_F(HostSettings, ClearedKeysAreAbsentAgain) {
    StravoHostControl::setDatabaseSetting("A", 1);
    StravoHostControl::setDatabaseSetting("B", 2);
    StravoHostControl::setNodeLocalSetting("A", 3);
    StravoHostControl::clearDatabaseSetting("A");
    StravoHostControl::clearNodeLocalSetting("A");
    EXPECT_EQ(readUnsigned<DbSettings>("A", 100u), 100u);
    EXPECT_EQ(readUnsigned<DbSettings>("B", 100u), 2u);
    EXPECT_EQ(readUnsigned<NodeSettings>("A", 100u), 100u);
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
    EXPECT_EQ(readUnsigned<NodeSettings>("Private", 0u), 3u);
}

TEST_F(HostSettings, TheStoresAreSeparate) {
    StravoHostControl::setDatabaseSetting("OnlyInDb", 11);
    StravoHostControl::setNodeLocalSetting("OnlyLocal", 12);
    EXPECT_EQ(readUnsigned<NodeSettings>("OnlyInDb", 0u), 0u);
    EXPECT_EQ(readUnsigned<DbSettings>("OnlyLocal", 0u), 0u);
}

TEST_F(HostSettings, NodeLocalKeysAreRoutedByGlobalConfig) {
    GlobalConfig& config = CStaticSingleton<GlobalConfig>::instance();
    EXPECT_TRUE(CStaticSingleton<GlobalConfig>::instanceExists());
    EXPECT_EQ(&config, &CStaticSingleton<GlobalConfig>::instance());
    EXPECT_FALSE(config.isNodeLocalConfig("CacheSize"));
    StravoHostControl::setNodeLocalKey("CacheSize", true);
    EXPECT_TRUE(config.isNodeLocalConfig("CacheSize"));
    EXPECT_FALSE(config.isNodeLocalConfig("cachesize"));
    EXPECT_FALSE(config.isNodeLocalConfig("RetryCount"));

    StravoHostControl::setDatabaseSetting("CacheSize", 1);
    StravoHostControl::setNodeLocalSetting("CacheSize", 2);
    auto route = [&config](const std::string& key) {
        uint32_t value = 0;
        if (config.isNodeLocalConfig(key)) {
            NodeSettings()->getGlobalSetting(key, value, 0u);
        } else {
            DbSettings()->getGlobalSetting(key, value, 0u);
        }
        return value;
    };
    EXPECT_EQ(route("CacheSize"), 2u);
    StravoHostControl::setNodeLocalKey("CacheSize", false);
    EXPECT_EQ(route("CacheSize"), 1u);
}

TEST_F(HostSettings, OutOfRangeValuesAreRefused) {
    StravoHostControl::setDatabaseSetting("Big", 4294967296LL);
    StravoHostControl::setDatabaseSetting("Negative", -1);
    EXPECT_THROW(readUnsigned<DbSettings>("Big", 0u), SettingsError);
    EXPECT_THROW(readUnsigned<DbSettings>("Negative", 0u), SettingsError);
    EXPECT_THROW(readSigned<DbSettings>("Big", 0), SettingsError);
    EXPECT_EQ(readSigned<DbSettings>("Negative", 0), -1);
}

TEST_F(HostSettings, DatabaseFailuresCarrySqlitesMessage) {
    const std::string notADatabase = temporaryPath("host-settings-garbage.db");
    writeFile(notADatabase, std::string(4096, 'x'));
    StravoHostControl::setDatabaseFile(notADatabase);
    EXPECT_EQ(failureOf<DbSettings>("RetryCount"), "file is not a database");

    const std::string noTable = temporaryPath("host-settings-empty.db");
    writeFile(noTable, "");
    StravoHostControl::setDatabaseFile(noTable);
    EXPECT_EQ(failureOf<DbSettings>("RetryCount"), "no such table: global_settings");

    StravoHostControl::setDatabaseFile(temporaryPath("no-such-dir/settings.db"));
    EXPECT_EQ(failureOf<DbSettings>("RetryCount"), "unable to open database file");

    std::remove(notADatabase.c_str());
    std::remove(noTable.c_str());
}

TEST_F(HostSettings, InjectedFailuresThrowUntilCleared) {
    StravoHostControl::setDatabaseSetting("K", 1);
    StravoHostControl::setNodeLocalSetting("K", 2);
    StravoHostControl::failDatabaseSettings("database is locked");
    EXPECT_EQ(failureOf<DbSettings>("K"), "database is locked");
    EXPECT_EQ(readUnsigned<NodeSettings>("K", 0u), 2u);

    StravoHostControl::failNodeLocalSettings("registry unavailable");
    EXPECT_EQ(failureOf<NodeSettings>("K"), "registry unavailable");
    EXPECT_THROW(readSigned<NodeSettings>("K", 0), SettingsError);

    StravoHostControl::clearSettingsFailures();
    EXPECT_EQ(readUnsigned<DbSettings>("K", 0u), 1u);
    EXPECT_EQ(readUnsigned<NodeSettings>("K", 0u), 2u);
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
    EXPECT_EQ(readUnsigned<NodeSettings>("RetryCount", 0u), 7u);
    EXPECT_EQ(readUnsigned<NodeSettings>("retrycount", 0u), 7u);
    EXPECT_EQ(readUnsigned<NodeSettings>("Mask", 0u), 31u);
    EXPECT_EQ(readSigned<NodeSettings>("Offset", 0), -12);
    EXPECT_EQ(readUnsigned<NodeSettings>("Commented", 99u), 99u);
    EXPECT_EQ(readUnsigned<NodeSettings>("Twice", 0u), 2u);
    EXPECT_THROW(readUnsigned<NodeSettings>("Broken", 0u), SettingsError);
    EXPECT_THROW(readUnsigned<NodeSettings>("Offset", 0u), SettingsError);

    // Writes keep the rest of the file.
    StravoHostControl::setNodeLocalSetting("Mask", 2);
    EXPECT_EQ(readUnsigned<NodeSettings>("Mask", 0u), 2u);
    EXPECT_EQ(readUnsigned<NodeSettings>("RetryCount", 0u), 7u);
    std::remove(ini.c_str());
}
#endif

// The plug-in counts its database reads itself (counter 4); the settings object must not count them again.
TEST_F(HostSettings, CountersExistOnDemandAndSettingsReadsDoNotCountThemselves) {
    StravoHostControl::resetPerformanceCounters();
    EXPECT_FALSE(CStaticSingleton<PerformanceCountersManager>::instanceExists());
    readUnsigned<DbSettings>("A", 0u);
    EXPECT_EQ(StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads), 0u);

    StravoHostControl::createPerformanceCounters();
    EXPECT_TRUE(CStaticSingleton<PerformanceCountersManager>::instanceExists());
    StravoHostControl::setDatabaseSetting("A", 5);
    readUnsigned<DbSettings>("A", 0u);
    readSigned<DbSettings>("Missing", 0);
    readUnsigned<NodeSettings>("A", 0u);
    EXPECT_EQ(StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads), 0u);
    EXPECT_EQ(StravoHostControl::performanceCounter(PerfCounters::FileOperations), 0u);

    StravoHostControl::resetPerformanceCounters();
    EXPECT_FALSE(CStaticSingleton<PerformanceCountersManager>::instanceExists());
    EXPECT_EQ(StravoHostControl::performanceCounter(PerfCounters::DatabaseSettingsReads), 0u);
    EXPECT_EQ(StravoHostControl::createPerformanceCounters().counter(PerfCounters::DatabaseSettingsReads), 0u);
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
