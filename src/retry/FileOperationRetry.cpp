#include <GridApi/FileOperationRetry.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <limits>

#include <StravoHost/Log.h>
#include <StravoHost/Settings.h>
#include <StravoHost/Sleep.h>

#include "retry/RetryLog.h"

namespace StravoStorageApi {

using GridApi::logLine;
namespace messages = GridApi::messages;

namespace {

// The most the random extra wait may be for a rule whose wait has no bound: an hour. A rule with a
// wait bound bounds the extra by it too.
const std::uint32_t maxExtraWaitSeconds = 3600;

// The seconds the host's sleep is asked for: the wait and the extra added in 64 bits, and at most
// what its int can hold, so that no wait turns negative (which the sleep would take as none).
int sleepSeconds(std::uint64_t waitSeconds, std::uint64_t extraSeconds) {
    const std::uint64_t most = static_cast<std::uint64_t>(std::numeric_limits<int>::max());
    return static_cast<int>(std::min(waitSeconds + extraSeconds, most));
}

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
    // The extra is 0 to waitJitterSeconds - 1 seconds.
    const std::uint32_t maxExtra = std::min(maxWaitSeconds, maxExtraWaitSeconds);
    if (waitJitterSeconds - 1 > maxExtra) {
        waitJitterSeconds = maxExtra + 1;
        logLine(messages::trace, "limiting the '%s' random extra wait to %u seconds.", description.c_str(), maxExtra);
    }
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
        const std::uint64_t random = static_cast<std::uint64_t>(std::rand());
        const std::uint64_t extra = waitJitterSeconds != 0 ? random % waitJitterSeconds : 0;
        sys_sleep(sleepSeconds(waitSeconds, extra));
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
            PerfCounters::DatabaseSettingsReads);
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
