#include <StravoHost/Log.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include <StravoHost/Error.h>
#include <StravoHost/HostControl.h>

#include "Internal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

const int kFirstTraceId = 16384;
const char kFacility[] = "GRIDAPI";

struct LogState {
    // Guards the settings below; never held while the catalogue is consulted.
    std::mutex configMutex;
    std::string logFile;
    bool trace = true;
    std::string messageModule;
    bool capture = false;

    // Held while a line is written; recursive so that a call made again on the same thread
    // (say, from a handler running inside the write) cannot deadlock.
    std::recursive_mutex writeMutex;
    std::FILE* out = nullptr;  // open log file, or nullptr for stderr
    std::string openFile;      // the name out was opened with
    std::vector<std::string> lines;

    std::mutex eventMutex;
    std::vector<StravoHostControl::SystemEvent> events;

    LogState() { applyEnvironment(); }

    void applyEnvironment() {
        const StravoHostInternal::Environment& env = StravoHostInternal::environment();
        logFile = env.logFile;
        trace = env.trace;
        messageModule = env.messageModule;
        capture = false;
    }
};

// Never destroyed: a plug-in may still log from its own static destructors at exit.
LogState& state() {
    static LogState* instance = new LogState();
    return *instance;
}

// The catalogue's text for the id, or false when there is none.
bool catalogueText(const std::string& module, int messageId, std::string& text) {
    if (messageId < 0) return false;
#if defined(_WIN32)
    if (messageId > 0xFFFF) return false;
    HMODULE handle = GetModuleHandleA(module.empty() ? nullptr : module.c_str());
    if (handle == nullptr) return false;
    char buffer[2048];
    const int length = LoadStringA(handle, static_cast<UINT>(messageId), buffer, sizeof buffer);
    if (length <= 0) return false;
    text.assign(buffer, static_cast<size_t>(length));
    return true;
#else
    // Only a module that is already loaded: RTLD_NOLOAD never runs a module's initialisers. No
    // name means the program itself, whose handle searches the global symbol scope.
    void* handle = dlopen(module.empty() ? nullptr : module.c_str(), RTLD_NOLOAD | RTLD_LAZY);
    if (handle == nullptr) return false;
    typedef const char* (*MessageTextFunction)(unsigned);
    MessageTextFunction lookup = reinterpret_cast<MessageTextFunction>(dlsym(handle, "GridApiMessageText"));
    const char* found = lookup ? lookup(static_cast<unsigned>(messageId)) : nullptr;
    if (found) text = found;
    dlclose(handle);
    return found != nullptr;
#endif
}

// Puts the facility and the text into the catalogue entry: the first %s is the facility, the
// second the text, later ones stay empty; %% is a percent sign; anything else is copied as is.
std::string fillEntry(const std::string& entry, const char* text) {
    std::string result;
    result.reserve(entry.size() + 64);
    int argument = 0;
    for (size_t i = 0; i < entry.size(); ++i) {
        if (entry[i] == '%' && i + 1 < entry.size()) {
            if (entry[i + 1] == 's') {
                if (argument == 0) result += kFacility;
                if (argument == 1) result += text;
                ++argument;
                ++i;
                continue;
            }
            if (entry[i + 1] == '%') {
                result += '%';
                ++i;
                continue;
            }
        }
        result += entry[i];
    }
    return result;
}

std::string timeAndThread() {
    char buffer[96];
#if defined(_WIN32)
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u.%03u %lu", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                  static_cast<unsigned long>(GetCurrentThreadId()));
#else
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03ld %ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, now.tv_nsec / 1000000L,
                  static_cast<long>(syscall(SYS_gettid)));
#endif
    return buffer;
}

void writeLine(int messageId, const char* text) {
    LogState& log = state();
    std::string module;
    std::string file;
    bool capture;
    {
        std::lock_guard<std::mutex> lock(log.configMutex);
        if (messageId >= kFirstTraceId && !log.trace) return;
        module = log.messageModule;
        file = log.logFile;
        capture = log.capture;
    }
    if (text == nullptr) text = "";

    std::string entry;
    std::string body;
    if (catalogueText(module, messageId, entry)) {
        body = fillEntry(entry, text);
    } else {
        body = std::string(kFacility) + "-?-" + std::to_string(messageId) + " " + text;
    }
    const std::string line = timeAndThread() + " " + body + "\n";

    std::lock_guard<std::recursive_mutex> lock(log.writeMutex);
    if (file != log.openFile) {
        if (log.out) std::fclose(log.out);
        log.out = file.empty() ? nullptr : std::fopen(file.c_str(), "a");
        log.openFile = log.out ? file : std::string();
    }
    std::FILE* out = log.out ? log.out : stderr;
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
    if (capture) log.lines.push_back(body);
}

}  // namespace

namespace StravoHostInternal {

void resetLog() {
    LogState& log = state();
    {
        std::lock_guard<std::mutex> lock(log.configMutex);
        log.applyEnvironment();
    }
    StravoHostControl::clearCapturedLogLines();
    StravoHostControl::clearCapturedSystemEvents();
}

}  // namespace StravoHostInternal

namespace StravoStorageApi {

void nonRecursiveLogShow(int /*level*/, int messageId, const char* text) { writeLine(messageId, text); }

}  // namespace StravoStorageApi

bool logCheckTraceLevel(int messageId) {
    if (messageId < kFirstTraceId) return true;
    LogState& log = state();
    std::lock_guard<std::mutex> lock(log.configMutex);
    return log.trace;
}

void log_show(int /*flags*/, int messageId, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = StravoHostInternal::vformat(format, args);
    va_end(args);
    writeLine(messageId, text.c_str());
}

namespace StravoUtilities {

std::string formatMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = StravoHostInternal::vformat(format, args);
    va_end(args);
    return text;
}

void WriteSystemEvent(const Error& error, const std::string& source, void* data, DWORD dataSize) {
    LogState& log = state();
    const std::string text = error.what();
    std::lock_guard<std::mutex> lock(log.eventMutex);
    log.events.push_back(StravoHostControl::SystemEvent{source, text});
#if defined(_WIN32)
    HANDLE eventLog = RegisterEventSourceA(nullptr, source.c_str());
    if (eventLog != nullptr) {
        const char* strings[] = {text.c_str()};
        ReportEventA(eventLog, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, data ? dataSize : 0, strings, data);
        DeregisterEventSource(eventLog);
    }
#else
    (void)data;
    (void)dataSize;
    // openlog keeps the ident pointer until closelog; both happen under eventMutex.
    openlog(source.c_str(), LOG_PID, LOG_USER);
    syslog(LOG_ERR, "%s", text.c_str());
    closelog();
#endif
}

}  // namespace StravoUtilities

namespace StravoHostControl {

void enableLogCapture(bool enabled) {
    LogState& log = state();
    std::lock_guard<std::mutex> lock(log.configMutex);
    log.capture = enabled;
}

std::vector<std::string> capturedLogLines() {
    LogState& log = state();
    std::lock_guard<std::recursive_mutex> lock(log.writeMutex);
    return log.lines;
}

void clearCapturedLogLines() {
    LogState& log = state();
    std::lock_guard<std::recursive_mutex> lock(log.writeMutex);
    log.lines.clear();
}

void setLogFile(const std::string& path) {
    LogState& log = state();
    std::lock_guard<std::mutex> lock(log.configMutex);
    log.logFile = path;
}

void setMessageModule(const std::string& moduleName) {
    LogState& log = state();
    std::lock_guard<std::mutex> lock(log.configMutex);
    log.messageModule = moduleName;
}

void setTrace(bool enabled) {
    LogState& log = state();
    std::lock_guard<std::mutex> lock(log.configMutex);
    log.trace = enabled;
}

std::vector<SystemEvent> capturedSystemEvents() {
    LogState& log = state();
    std::lock_guard<std::mutex> lock(log.eventMutex);
    return log.events;
}

void clearCapturedSystemEvents() {
    LogState& log = state();
    std::lock_guard<std::mutex> lock(log.eventMutex);
    log.events.clear();
}

}  // namespace StravoHostControl
