#pragma once

// The stand-in host's control surface for tests: what a test needs to watch and steer the host
// that a plug-in runs in. Nothing here is part of the server's interface to plug-ins.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <StravoHost/Export.h>
#include <StravoHost/Settings.h>

namespace StravoHostControl {

// --- Log --------------------------------------------------------------------------------------
// While capture is on, every written log line is also kept in memory without its time and thread
// id, e.g. "GRIDAPI-I-0001 Could not open ...". Lines go to the destination either way.
STRAVOHOST_API void enableLogCapture(bool enabled);
STRAVOHOST_API std::vector<std::string> capturedLogLines();
STRAVOHOST_API void clearCapturedLogLines();
// Log destination: a file (appended to) or, for an empty path, stderr.
STRAVOHOST_API void setLogFile(const std::string& path);
// The module whose message catalogue formats log lines (default GridApi.dll / libGridApi.so.1). An
// empty name means the program itself: on Windows the executable's string table, on Linux the
// program's global symbol scope (the executable, if linked with -rdynamic, and the libraries
// loaded with it).
STRAVOHOST_API void setMessageModule(const std::string& moduleName);
STRAVOHOST_API void setTrace(bool enabled);

// --- System events ------------------------------------------------------------------------------
struct SystemEvent {
    std::string source;
    std::string text;
};
// Events are always captured (and always sent to the system's log too).
STRAVOHOST_API std::vector<SystemEvent> capturedSystemEvents();
STRAVOHOST_API void clearCapturedSystemEvents();

// --- Settings -------------------------------------------------------------------------------------
// Writes go to the real stores. With no database or node-local store configured, the first write
// creates a temporary one, used from then on and removed when the process ends: a file, or on
// Windows a registry key of the process's own (also when only the default key is in use, so that
// test processes never share node-local values).
STRAVOHOST_API void setDatabaseSetting(const std::string& key, int64_t value);
STRAVOHOST_API void clearDatabaseSetting(const std::string& key);
STRAVOHOST_API void setNodeLocalSetting(const std::string& key, int64_t value);
STRAVOHOST_API void clearNodeLocalSetting(const std::string& key);
// Removes every value from both stores.
STRAVOHOST_API void clearAllSettings();
// Points the database side at another SQLite file (empty: none, every key absent).
STRAVOHOST_API void setDatabaseFile(const std::string& path);
STRAVOHOST_API std::string databaseFile();
// Points the node-local side at another store: on Linux an INI file, on Windows a subkey of
// HKEY_LOCAL_MACHINE (empty: none, every key absent).
STRAVOHOST_API void setNodeLocalStore(const std::string& store);
STRAVOHOST_API std::string nodeLocalStore();
STRAVOHOST_API void setNodeLocalKey(const std::string& key, bool nodeLocal);
// From now on every read of that side throws SettingsError(message), until cleared.
STRAVOHOST_API void failDatabaseSettings(const std::string& message);
STRAVOHOST_API void failNodeLocalSettings(const std::string& message);
STRAVOHOST_API void clearSettingsFailures();
// An in-memory layer above both stores, for this process only: a key it holds is read from here
// whichever side it belongs to, and never reaches a store. Nothing is written to a store.
STRAVOHOST_API void setSettingOverride(const std::string& key, int64_t value);
STRAVOHOST_API void clearSettingOverrides();
// True (and the value) when the layer holds the key.
STRAVOHOST_API bool settingOverride(const std::string& key, int64_t& value);

// --- Sleep ----------------------------------------------------------------------------------------
// sys_sleep records the seconds asked for and returns 0 at once.
STRAVOHOST_API void recordSleeps();
STRAVOHOST_API std::vector<int> recordedSleeps();
// sys_sleep calls this instead (its result is sys_sleep's).
STRAVOHOST_API void setSleepFunction(std::function<int(int)> sleeper);
// sys_sleep blocks for real again; the record is emptied.
STRAVOHOST_API void restoreSleep();

// --- Performance counters -------------------------------------------------------------------------
// Creates the singleton if needed (all counters 0 when new).
STRAVOHOST_API PerformanceCountersManager& createPerformanceCounters();
// Destroys the singleton: instanceExists() is false until created again. References taken from
// instance() before are invalid afterwards, so reset only while nothing else uses the counters.
STRAVOHOST_API void resetPerformanceCounters();
// 0 while there is no singleton.
STRAVOHOST_API uint64_t performanceCounter(PerfCounters::CounterType type);

// --- Verified move ---------------------------------------------------------------------------------
// The verified move reaches the file system past the plug-in's system-call table, so it has a fault
// seam of its own: the next `count` attempts (0: every one) fail with `error` without touching a
// file, as a network error would.
STRAVOHOST_API void failVerifiedMoves(uint32_t error, uint64_t count);
// The object of each verified-move attempt (MoveFileWithCheckCRC::doOnce) since the last reset.
STRAVOHOST_API std::vector<const void*> verifiedMoveAttempts();

// Back to the state the environment configured: no capture, captured lines and events dropped,
// trace, module, log destination and settings files as at start, node-local keys from the
// environment, no injected failures (verified moves included, their record emptied), real sleep, no in-memory settings.
// Stores are not emptied (see clearAllSettings).
STRAVOHOST_API void resetToDefaults();

}  // namespace StravoHostControl
