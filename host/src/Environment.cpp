#include "Internal.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

namespace StravoHostInternal {

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

Environment readEnvironment() {
    Environment env;
    env.logFile = variable("STRAVO_LOG_FILE");
    std::string trace = boost::algorithm::trim_copy(variable("STRAVO_TRACE"));
    env.trace = trace != "0";
    env.settingsDb = variable("STRAVO_SETTINGS_DB");
#if defined(_WIN32)
    env.nodeLocalStore = variable("STRAVO_NODE_LOCAL_REGISTRY_KEY");
    if (env.nodeLocalStore.empty()) {
        env.nodeLocalStore = "SOFTWARE\\Stravo\\GlobalSettings";
        env.nodeLocalStoreIsDefault = true;
    }
#else
    env.nodeLocalStore = variable("STRAVO_NODE_LOCAL_FILE");
#endif
    std::vector<std::string> keys;
    const std::string keyList = variable("STRAVO_NODE_LOCAL_KEYS");
    boost::algorithm::split(keys, keyList, boost::algorithm::is_any_of(","));
    for (std::string& key : keys) {
        boost::algorithm::trim(key);
        if (!key.empty()) env.nodeLocalKeys.insert(key);
    }
    env.messageModule = variable("STRAVO_MESSAGE_MODULE");
    if (env.messageModule.empty()) {
#if defined(_WIN32)
        env.messageModule = "GridApi.dll";
#else
        // The library's soname (SOVERSION in src/CMakeLists.txt): a loaded library is found by it
        // whatever path it was loaded from, and without the development link libGridApi.so.
        env.messageModule = "libGridApi.so.1";
#endif
    }
    return env;
}

}  // namespace

const Environment& environment() {
    static const Environment env = readEnvironment();
    return env;
}

std::string vformat(const char* format, va_list args) {
    if (format == nullptr) return std::string();
    char stackBuffer[512];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, copy);
    va_end(copy);
    if (needed < 0) return std::string();
    if (static_cast<size_t>(needed) < sizeof stackBuffer) return std::string(stackBuffer, static_cast<size_t>(needed));
    std::string result(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(&result[0], result.size(), format, args);
    result.resize(static_cast<size_t>(needed));
    return result;
}

}  // namespace StravoHostInternal
