#pragma once

// Global settings of the server, performance counters, and the singletons that own them.
//
// Settings live in two stores:
//  - the database (CDBFactoryRetriever): an SQLite file with the table
//      global_settings(key TEXT PRIMARY KEY, value INTEGER)
//    named by STRAVO_SETTINGS_DB. Without it every key is absent.
//  - the node-local store (CRegFactoryRetriever): on Windows the REG_DWORD values under
//    HKEY_LOCAL_MACHINE\SOFTWARE\Stravo\GlobalSettings; on Linux the INI-style file named by
//    STRAVO_NODE_LOCAL_FILE ("key = value" lines, decimal or 0x hex values, "#" or ";" comments,
//    "[section]" lines ignored). A missing key, registry key or file means absent.
// An absent key yields the caller's default. A store that cannot be read, or holds a value that
// is not an integer in the requested type's range, throws SettingsError. Which keys are node-local
// is GlobalConfig's answer (STRAVO_NODE_LOCAL_KEYS, comma-separated).

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include <StravoHost/Export.h>

namespace StaticSingleton {

// The host's single instance of T, created on first use of instance().
template <class T>
class CStaticSingleton {
  public:
    static T& instance();
    static bool instanceExists();
};

}  // namespace StaticSingleton

class STRAVOHOST_API GlobalConfig {
  public:
    GlobalConfig();
    ~GlobalConfig();
    GlobalConfig(const GlobalConfig&) = delete;
    GlobalConfig& operator=(const GlobalConfig&) = delete;

    // True when the key's setting is kept node-local rather than in the database.
    bool isNodeLocalConfig(std::string key);
};

// A settings store could not be read; what() carries the store's own message (SQLite's for the
// database).
class STRAVOHOST_API SettingsError : public std::runtime_error {
  public:
    explicit SettingsError(const std::string& message);
    SettingsError(const SettingsError& other);
    SettingsError& operator=(const SettingsError& other);
    ~SettingsError() override;
};

// Reads settings from one store. Obtained through CGlobalSettingHelperAdapter.
class STRAVOHOST_API CGlobalSettingHelper {
  public:
    virtual ~CGlobalSettingHelper();
    virtual void getGlobalSetting(const std::string& key, uint32_t& value, const uint32_t& defaultValue) = 0;
    virtual void getGlobalSetting(const std::string& key, int32_t& value, const int32_t& defaultValue) = 0;
};

// Selects the node-local store.
struct STRAVOHOST_API CRegFactoryRetriever {
    static std::unique_ptr<CGlobalSettingHelper> create();
};

// Selects the database.
struct STRAVOHOST_API CDBFactoryRetriever {
    static std::unique_ptr<CGlobalSettingHelper> create();
};

// One read (or a few) of one store: construct, read through ->, let go.
template <class Retriever>
class CGlobalSettingHelperAdapter {
  public:
    CGlobalSettingHelperAdapter() : helper_(Retriever::create()) {}
    CGlobalSettingHelper* operator->() const { return helper_.get(); }

  private:
    std::unique_ptr<CGlobalSettingHelper> helper_;
};

namespace PerfCounters {
enum CounterType {
    FileOperations = 0,         // file operations the plug-in performed
    FileOperationErrors = 1,    // file operations that failed
    Retries = 2,                // retried attempts
    Reconnects = 3,             // handles re-created
    DatabaseSettingsReads = 4,  // reads of the settings database (counted by the plug-in)
    CounterTypeCount = 5
};
}  // namespace PerfCounters

class STRAVOHOST_API PerformanceCountersManager {
  public:
    PerformanceCountersManager();
    ~PerformanceCountersManager();
    PerformanceCountersManager(const PerformanceCountersManager&) = delete;
    PerformanceCountersManager& operator=(const PerformanceCountersManager&) = delete;

    // Thread-safe. Unknown types are ignored (and read as 0).
    void incrementCounter(PerfCounters::CounterType type);
    uint64_t counter(PerfCounters::CounterType type) const;

  private:
    std::atomic<uint64_t> counters_[PerfCounters::CounterTypeCount];
};

namespace StaticSingleton {
template <>
STRAVOHOST_API GlobalConfig& CStaticSingleton<GlobalConfig>::instance();
template <>
STRAVOHOST_API bool CStaticSingleton<GlobalConfig>::instanceExists();
template <>
STRAVOHOST_API PerformanceCountersManager& CStaticSingleton<PerformanceCountersManager>::instance();
template <>
STRAVOHOST_API bool CStaticSingleton<PerformanceCountersManager>::instanceExists();
}  // namespace StaticSingleton
