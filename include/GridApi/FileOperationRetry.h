#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <GridApi/Export.h>
#include <StravoHost/FileServicesIf.h>

class GlobalConfig;

namespace StravoStorageApi {

// The per-run record of a retrying command: its copy of the waiting function, the count of failed
// attempts judged so far (whatever their error codes), and the arguments the log shows.
struct GRIDAPI_API RetryHandlerContext {
    RetryWaiter retryWaiter;
    std::uint32_t attempts = 0;
    std::vector<std::string> arguments;

    // Logs "\tArg <n>:  <argument>" for each argument, numbered from 1, under messageId.
    void logArguments(int messageId) const;
};

// The setting that gives every rule its random extra wait (0 to value - 1 seconds).
constexpr const char* retryWaitErrorKey = "FileRetryWaitError";

// A retry rule: for one Win32 error code, how often a failed call is tried again, how long to wait
// before each new try, and the error's name in the log. Read-only once constructed.
class GRIDAPI_API FileOperationRetry {
  public:
    explicit FileOperationRetry(const std::string& operationName);
    virtual ~FileOperationRetry();

    // Reads the count, the wait and the jitter from the global settings and bounds them.
    void loadSettings();
    // The rule's step after a failed attempt: logs, counts, waits; true to try again.
    bool waitForRetry(RetryHandlerContext& context);

    std::uint32_t numRetries;
    std::uint32_t waitSeconds;
    std::uint32_t maxRetries;
    std::uint32_t minRetries;
    std::uint32_t defaultRetries;
    std::uint32_t maxWaitSeconds;
    std::uint32_t minWaitSeconds;
    std::uint32_t defaultWaitSeconds;
    std::uint32_t waitJitterSeconds;
    std::string retriesKey;
    std::string waitSecondsKey;
    std::string description;
    std::string operationName;
};

// Reads one unsigned global setting into value (the default when absent or unreadable): node-local
// keys from the registry side (its exceptions pass), all others from the database side (a
// std::exception there is swallowed and traced).
GRIDAPI_API void readGlobalSetting(GlobalConfig& config, const std::string& key, std::uint32_t& value,
                                   const std::uint32_t& defaultValue);
// The same for a signed setting.
GRIDAPI_API void readGlobalSetting(GlobalConfig& config, const std::string& key, std::int32_t& value,
                                   const std::int32_t& defaultValue);

}  // namespace StravoStorageApi
