#pragma once

// The settings side of the host, shared by its files: the configuration that the environment and
// the control surface set, the temporary stores the control surface creates, and value checks.
// SettingsState.cpp holds the configuration, DatabaseSettings.cpp the database side,
// NodeLocalIni.cpp (Linux) or NodeLocalRegistry.cpp (Windows) the node-local side, and
// Counters.cpp the performance counters and the singletons.

#include <limits>
#include <mutex>
#include <set>
#include <string>

#include <boost/optional.hpp>

#include <StravoHost/Settings.h>

namespace StravoHostInternal {

struct SettingsState {
    std::mutex mutex;
    std::string databaseFile;
    // Moves on whenever the database side is pointed at a file again, so that the read connection
    // is opened anew even for the same name (the file may have been replaced).
    unsigned databaseGeneration = 0;
    std::string nodeLocalStore;  // INI file (Linux) or HKEY_LOCAL_MACHINE subkey (Windows)
    bool nodeLocalStoreIsDefault = false;
    std::set<std::string> nodeLocalKeys;
    boost::optional<std::string> databaseFailure;
    boost::optional<std::string> nodeLocalFailure;

    SettingsState() { applyEnvironment(); }
    void applyEnvironment();
};

// Never destroyed: a plug-in may read settings from its own static destructors at exit.
SettingsState& settings();

// The store a read of that side goes to (empty: none), and for the database its generation;
// throws the failure the control surface injected, if any.
std::string databaseFileForRead(unsigned* generation);
std::string nodeLocalStoreForRead();

// An empty file in TMPDIR (%TEMP%) for a store the control surface has to create; removed at exit.
std::string makeTemporaryFile(const char* kind);
// A registry key the control surface created (Windows); removed at exit.
void addTemporaryRegistryKey(const std::string& key);

// Closes the database side's read connection (before the temporary stores are removed at exit; a
// later read opens it again).
void closeDatabaseReads();

// The reader of one store behind the in-memory layer of StravoHostControl::setSettingOverride.
std::unique_ptr<CGlobalSettingHelper> withOverrides(std::unique_ptr<CGlobalSettingHelper> store);

// Empties each side's store (for StravoHostControl::clearAllSettings).
void clearDatabaseStore();
void clearNodeLocalStore();

// The value as T, or a SettingsError naming the key.
template <typename T>
T checkedValue(const std::string& key, long long value) {
    if (value < static_cast<long long>(std::numeric_limits<T>::min()) ||
        value > static_cast<long long>(std::numeric_limits<T>::max())) {
        throw SettingsError("setting '" + key + "' value " + std::to_string(value) + " is out of range");
    }
    return static_cast<T>(value);
}

// A reader of one store whose lookup gives the value as a long long (or none when absent).
template <boost::optional<long long> (*lookup)(const std::string&)>
class RangeCheckedHelper : public CGlobalSettingHelper {
  public:
    void getGlobalSetting(const std::string& key, uint32_t& value, const uint32_t& defaultValue) override {
        const boost::optional<long long> found = lookup(key);
        value = found ? checkedValue<uint32_t>(key, *found) : defaultValue;
    }
    void getGlobalSetting(const std::string& key, int32_t& value, const int32_t& defaultValue) override {
        const boost::optional<long long> found = lookup(key);
        value = found ? checkedValue<int32_t>(key, *found) : defaultValue;
    }
};

}  // namespace StravoHostInternal
