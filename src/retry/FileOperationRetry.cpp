#include <GridApi/FileOperationRetry.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <exception>

#include <StravoHost/Log.h>
#include <StravoHost/Settings.h>
#include <StravoHost/Sleep.h>

#include "retry/RetryLog.h"

namespace StravoStorageApi {

using GridApi::logLine;
namespace messages = GridApi::messages;

namespace {

const char* const retryWaitErrorKey = "FileRetryWaitError";
const PerfCounters::CounterType databaseSettingsReads = static_cast<PerfCounters::CounterType>(4);

// The random extra wait is drawn with rand(); the generator is seeded once per process.
std::atomic<bool> randomSeeded(false);

void seedRandomOnce() {
    if (!randomSeeded.exchange(true, std::memory_order_relaxed)) {
        std::srand(static_cast<unsigned>(std::time(nullptr)));
    }
}

}  // namespace

void RetryHandlerContext::logArguments(int messageId) const {
    int number = 1;
    for (const std::string& argument : arguments) {
        logLine(messageId, "\tArg %d:  %s", number++, argument.c_str());
    }
}

FileOperationRetry::FileOperationRetry(const std::string& name)
    : numRetries(0),
      waitSeconds(0),
      maxRetries(0xFFFFFFFFu),
      minRetries(0),
      defaultRetries(0),
      maxWaitSeconds(0xFFFFFFFFu),
      minWaitSeconds(0),
      defaultWaitSeconds(0),
      waitJitterSeconds(3),
      description("<default>"),
      operationName(name) {}

FileOperationRetry::~FileOperationRetry() = default;

void FileOperationRetry::loadSettings() {
    if (retriesKey.empty() || waitSecondsKey.empty()) return;
    seedRandomOnce();
    GlobalConfig& config = StaticSingleton::CStaticSingleton<GlobalConfig>::instance();

    numRetries = defaultRetries;
    readGlobalSetting(config, retriesKey, numRetries, defaultRetries);
    if (numRetries > maxRetries) {
        numRetries = maxRetries;
        logLine(messages::trace, "limiting the '%s' number of retries to %d.", description.c_str(), numRetries);
    }

    waitSeconds = defaultWaitSeconds;
    readGlobalSetting(config, waitSecondsKey, waitSeconds, defaultWaitSeconds);
    if (waitSeconds > maxWaitSeconds || waitSeconds < minWaitSeconds) {
        waitSeconds = waitSeconds > maxWaitSeconds ? maxWaitSeconds : minWaitSeconds;
        logLine(messages::trace, "limiting the '%s' wait time to %d seconds.", description.c_str(), waitSeconds);
    }

    readGlobalSetting(config, retryWaitErrorKey, waitJitterSeconds, waitJitterSeconds);
    if (waitJitterSeconds == 0) waitJitterSeconds = 1;
}

bool FileOperationRetry::waitForRetry(RetryHandlerContext& context) {
    if (context.attempts == 0) {
        logLine(messages::information, "Could not perform a file '%s' operation:", operationName.c_str());
        context.logArguments(messages::information);
        if (numRetries == 0) {
            logLine(messages::information, "Error: '%s'. No retry will be performed.", description.c_str());
        } else {
            logLine(messages::information, "Error: '%s'. Retrying %u times, waiting %u seconds between retries.",
                    description.c_str(), numRetries, waitSeconds);
        }
    } else {
        logLine(messages::trace, "The file operation '%s' is still pending (file is still inaccessible)...",
                operationName.c_str());
    }

    ++context.attempts;
    if (numRetries != 0 && context.attempts <= numRetries) {
        const unsigned extra = static_cast<unsigned>(std::rand()) % waitJitterSeconds;
        sys_sleep(static_cast<int>(extra + waitSeconds));
        return true;
    }

    logLine(messages::warning, "Could not '%s' file (All '%s' retries exhausted.)", operationName.c_str(),
            description.c_str());
    context.logArguments(messages::warning);
    context.attempts = 0;
    return false;
}

namespace {

template <class Value>
void readSetting(GlobalConfig& config, const std::string& key, Value& value, const Value& defaultValue) {
    if (config.isNodeLocalConfig(key)) {
        CGlobalSettingHelperAdapter<CRegFactoryRetriever> registry;
        registry->getGlobalSetting(key, value, defaultValue);
        return;
    }
    if (StaticSingleton::CStaticSingleton<PerformanceCountersManager>::instanceExists()) {
        StaticSingleton::CStaticSingleton<PerformanceCountersManager>::instance().incrementCounter(
            databaseSettingsReads);
    }
    value = defaultValue;
    try {
        CGlobalSettingHelperAdapter<CDBFactoryRetriever> database;
        database->getGlobalSetting(key, value, defaultValue);
    } catch (const std::exception& e) {
        if (logCheckTraceLevel(messages::trace)) {
            log_show(64, messages::trace, "Database error calling getGlobalSetting: %s.", e.what());
        }
    }
}

}  // namespace

void readGlobalSetting(GlobalConfig& config, const std::string& key, std::uint32_t& value,
                       const std::uint32_t& defaultValue) {
    readSetting(config, key, value, defaultValue);
}

void readGlobalSetting(GlobalConfig& config, const std::string& key, std::int32_t& value,
                       const std::int32_t& defaultValue) {
    readSetting(config, key, value, defaultValue);
}

}  // namespace StravoStorageApi
