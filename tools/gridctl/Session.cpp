#include "Gridctl.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <thread>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <GridApi/GridFileServices.h>
#include <GridApi/UncFileOperationRetryHandler.h>
#include <StravoHost/HostControl.h>

#ifndef _WIN32
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace gridctl {

namespace {

std::atomic<bool> cancelFlag(false);

const std::uint32_t errorCancelled = 1223;  // ERROR_CANCELLED

// The first Ctrl-C asks the command to stop; the second one ends the process as usual.
extern "C" void onInterrupt(int) {
    cancelFlag.store(true);
    std::signal(SIGINT, SIG_DFL);
}

double secondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The file beside this program: the plug-in as the server's installation keeps it.
std::string defaultPluginPath() {
#ifdef _WIN32
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, length);
    const std::string::size_type slash = self.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + "GridApi.dll";
#else
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    const std::string::size_type slash = self.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
    // In the build beside the program; installed, in ../lib under its soname.
    const std::string beside = dir + "libGridApi.so";
    return access(beside.c_str(), F_OK) == 0 ? beside : dir + "../lib/libGridApi.so.1";
#endif
}

}  // namespace

// -v: the library's log lines, through a pipe, to stderr (on a terminal coloured by severity:
// errors red, warnings yellow, traces dim) and to the log file. The host writes each whole line at
// once, so lines arrive whole.
class ColouredLog {
  public:
    ColouredLog(bool colour, const std::string& file) : colour_(colour), name_(file), file_(file, std::ios::app) {}
#ifdef _WIN32
    bool start() { return false; }
#else
    bool start() {
        if (pipe(fds_) != 0) return false;
        StravoHostControl::setLogFile("/dev/fd/" + std::to_string(fds_[1]));
        reader_ = std::thread([this] { copyLines(); });
        return true;
    }

    ~ColouredLog() {
        if (!reader_.joinable()) return;
        // Every line written so far is in the pipe before this one.
        const std::string end = std::string(endLine) + "\n";
        if (write(fds_[1], end.data(), end.size()) == static_cast<ssize_t>(end.size()))
            reader_.join();
        else
            reader_.detach();
        // The host switches back at its next line; the read end stays open so that it never fails.
        StravoHostControl::setLogFile(name_);
        close(fds_[1]);
    }

  private:
    static constexpr const char* endLine = "\x01gridctl: end of log";

    void copyLines() {
        std::string pending;
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(fds_[0], buffer, sizeof buffer);
            if (got <= 0) return;
            pending.append(buffer, static_cast<std::size_t>(got));
            std::string::size_type newline;
            while ((newline = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, newline);
                pending.erase(0, newline + 1);
                if (line == endLine) return;
                file_ << line << "\n" << std::flush;
                const char* colour = !colour_                                ? ""
                                     : line.find("-E-") != std::string::npos ? "\033[31m"
                                     : line.find("-W-") != std::string::npos ? "\033[33m"
                                     : line.find("-T-") != std::string::npos ? "\033[2m"
                                                                             : "";
                std::fprintf(stderr, "%s%s%s\n", colour, line.c_str(), *colour ? "\033[0m" : "");
            }
        }
    }

    int fds_[2] = {-1, -1};
    std::thread reader_;
#endif
    bool colour_;
    std::string name_;
    std::ofstream file_;
};

void installInterruptHandler() { std::signal(SIGINT, onInterrupt); }

std::string defaultLogFile() {
#ifdef _WIN32
    const char* state = std::getenv("LOCALAPPDATA");
    if (state && *state && GetFileAttributesA(state) != INVALID_FILE_ATTRIBUTES)
        return std::string(state) + "\\gridctl.log";
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof temp, temp);
    return std::string(temp, length) + "gridctl.log";
#else
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const std::string dir = state && *state ? state : home && *home ? std::string(home) + "/.local/state" : "";
    if (!dir.empty() && access(dir.c_str(), W_OK) == 0) return dir + "/gridctl.log";
    const char* temp = std::getenv("TMPDIR");
    return std::string(temp && *temp ? temp : "/tmp") + "/gridctl-" + std::to_string(getuid()) + ".log";
#endif
}
void requestCancel() { cancelFlag.store(true); }
bool cancelRequested() { return cancelFlag.load(); }
void resetCancel() { cancelFlag.store(false); }

// Every Win32 code's name (from mingw-w64's winerror.h) and text (from a Win32 message table:
// Wine's kernelbase.dll), both made by the build.
struct CodeText {
    std::uint32_t code;
    const char* text;
};
const CodeText errorNames[] = {
#include "ErrorNames.inc"
};
const CodeText errorTexts[] = {
#include "ErrorMessages.inc"
};

template <std::size_t N>
const char* lookUp(const CodeText (&table)[N], std::uint32_t code) {
    for (const CodeText& entry : table) {
        if (entry.code == code) return entry.text;
    }
    return nullptr;
}

std::string errorName(std::uint32_t code) {
    const char* name = lookUp(errorNames, code);
    return name ? name : "ERROR_" + std::to_string(code);
}

std::string errorMessage(std::uint32_t code) {
#ifdef _WIN32
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) --length;
    if (length > 0) return std::string(text, length);
#endif
    const char* fromTable = lookUp(errorTexts, code);
    return fromTable ? fromTable : "Win32 error " + std::to_string(code) + " (no text in the message table).";
}

nlohmann::json errorJson(std::uint32_t code) {
    return {{"code", code}, {"name", errorName(code)}, {"message", errorMessage(code)}};
}

std::string formatFileTime(const FILETIME& time) {
    // 100 ns ticks since 1601-01-01 UTC.
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const boost::posix_time::ptime epoch(boost::gregorian::date(1601, 1, 1));
    std::string text = boost::posix_time::to_iso_extended_string(
        epoch + boost::posix_time::seconds(static_cast<long>(ticks / 10000000u % 86400u)) +
        boost::gregorian::days(static_cast<long>(ticks / 10000000u / 86400u)));
    text[10] = ' ';
    return text;
}

Session::Session(std::ostream& output, std::ostream& errors, bool isTerminal)
    : out(output), err(errors), terminal(isTerminal) {}

Session::~Session() {
    if (services) services->setRetryWaiter(StravoStorageApi::RetryWaiter());
    services.reset();
    StravoHostControl::restoreSleep();
    colouredLog_.reset();
}

void Session::colourLog() {
    colouredLog_.reset(new ColouredLog(terminal, logFile));
    if (colouredLog_->start()) return;
    // No pipe (Windows): the lines go to stderr only.
    colouredLog_.reset();
    StravoHostControl::setLogFile("");
}

bool Session::loadPlugin(double defaultTimeScale) {
    if (timeScale < 0) timeScale = defaultTimeScale;
    if (pluginPath.empty()) pluginPath = defaultPluginPath();
    typedef StravoStorageApi::FileServicesIf* (*Factory)();
#ifdef _WIN32
    HMODULE module = LoadLibraryA(pluginPath.c_str());
    if (!module) {
        const DWORD code = GetLastError();
        error("plugin", "cannot load " + pluginPath + ": error " + std::to_string(code) + " " + errorName(code),
              exitPlugin);
        return false;
    }
    factory_ = reinterpret_cast<void*>(GetProcAddress(module, "createFileServices"));
#else
    void* module = dlopen(pluginPath.c_str(), RTLD_NOW);
    if (!module) {
        const char* why = dlerror();
        error("plugin", "cannot load " + pluginPath + ": " + (why ? why : "unknown reason"), exitPlugin);
        return false;
    }
    factory_ = dlsym(module, "createFileServices");
#endif
    module_ = reinterpret_cast<void*>(module);
    if (!factory_) {
        error("plugin", pluginPath + " has no createFileServices factory", exitPlugin);
        return false;
    }
    StravoStorageApi::FileServicesIf* object = reinterpret_cast<Factory>(factory_)();
    if (!object) {
        error("plugin", "the factory of " + pluginPath + " returned no object", exitPlugin);
        return false;
    }
    services.reset(object);
    services->setRetryWaiter([this](const StravoStorageApi::RetryStep& step) { return waitAndRetry(step); });
    StravoHostControl::setSleepFunction([this](int seconds) { return sleepScaled(seconds); });
    return true;
}

bool Session::pluginIsLinkedLibrary() const { return factory_ == reinterpret_cast<void*>(&createFileServices); }

bool Session::waitAndRetry(const StravoStorageApi::RetryStep& step) {
    // Read first: the failed attempt's error is still the thread's last error here.
    const std::uint32_t code = static_cast<std::uint32_t>(GetLastError());
    if (cancelRequested()) return false;
    if (code != waitCode_) attempt_ = 0;
    waitCode_ = code;
    ++attempt_;
    // The step logs, counts and waits; false: this error's retries are used up.
    const bool again = step() && !cancelRequested();
    clearWaitLine();
    if (again) {
        ++stats.retries;
        ++stats.byCode[code];
    } else {
        attempt_ = 0;
    }
    if (onRetry) onRetry(code, again);
    // A Ctrl-C during the wait: give up now, the operation ends with its last error.
    return again;
}

std::uint32_t Session::retriesFor(std::uint32_t code) {
    if (ruleCounts_.empty()) {
        StravoHostControl::setTrace(false);
        const GridApi::UncFileOperationRetryHandler handler("gridctl");
        StravoHostControl::setTrace(true);
        for (const auto& rule : handler.rules) ruleCounts_[rule.first] = rule.second->numRetries;
        ruleCounts_[0] = 0;
    }
    const auto found = ruleCounts_.find(code);
    return found == ruleCounts_.end() ? 0 : found->second;
}

void Session::clearWaitLine() {
    if (!waitShown_) return;
    err << "\r\033[K";
    err.flush();
    waitShown_ = false;
}

int Session::sleepScaled(int seconds) {
    if (seconds <= 0) return 0;
    stats.secondsAsked += static_cast<std::uint64_t>(seconds);
    if (showWaits && verbosity >= 0 && !json) {
        std::ostringstream line;
        line << "waiting " << seconds << " s before retry " << attempt_ << " of " << retriesFor(waitCode_) << ": error "
             << waitCode_ << " " << errorName(waitCode_) << " (Ctrl-C gives up)";
#ifndef _WIN32
        if ((waitCode_ == ERROR_BAD_NET_NAME || waitCode_ == ERROR_BAD_NETPATH) && !std::getenv("GRIDAPI_UNC_ROOT"))
            line << "; GRIDAPI_UNC_ROOT is not set, shares are looked for under /mnt/unc";
#endif
        err << (terminal ? "\r\033[K" : "") << line.str() << (terminal ? "" : "\n");
        err.flush();
        waitShown_ = terminal;
    }
    const double until = secondsNow() + seconds * timeScale;
    // Short slices, so that Ctrl-C ends a wait at once.
    while (!cancelRequested()) {
        const double left = until - secondsNow();
        if (!(left > 0)) break;
        std::this_thread::sleep_for(std::chrono::duration<double>(left < 0.02 ? left : 0.02));
    }
    return 0;
}

void Session::emit(nlohmann::json doc, const std::string& text, bool ok) {
    clearWaitLine();
    if (json) {
        doc["ok"] = ok;
        out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
        out << text;
    }
    out.flush();
}

void Session::note(const std::string& text) {
    if (verbosity < 0) return;
    clearWaitLine();
    err << text << "\n";
}

int Session::finish(const std::string& command, const std::string& path, std::uint64_t bytes, nlohmann::json error,
                    const std::string& text, int exitCode) {
    clearWaitLine();
    err << "gridctl " << command << ": " << text << "\n";
    if (json) {
        const nlohmann::json doc = {{"ok", false},
                                    {"command", command},
                                    {"path", path.empty() ? nlohmann::json() : nlohmann::json(path)},
                                    {"bytes", bytes},
                                    {"error", error},
                                    {"exit", exitCode},
                                    {"retries", stats.retries}};
        out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        out.flush();
    }
    return exitCode;
}

int Session::fail(const std::string& command, const std::string& path, std::uint32_t code, std::uint64_t bytes,
                  const std::string& done) {
    const bool wasCancelled = cancelRequested();
    std::string text = path + ": error " + std::to_string(code) + " " + errorName(code) + ": " + errorMessage(code);
    if (wasCancelled) text += "\ngridctl " + command + ": cancelled by Ctrl-C; the operation gave up at once";
    if (!done.empty()) text += "\ngridctl " + command + ": " + done;
    nlohmann::json error = errorJson(code);
    if (wasCancelled) error["cancelled"] = true;
    return finish(command, path, bytes, error, text, wasCancelled ? exitCancelled : exitFailed);
}

int Session::error(const std::string& command, const std::string& message, int exitCode, const std::string& kind,
                   const std::string& path) {
    return finish(command, path, 0, {{"code", nullptr}, {"name", kind}, {"message", message}}, message, exitCode);
}

int Session::cancelled(const std::string& command, const std::string& path, std::uint64_t bytes,
                       const std::string& done) {
    return finish(command, path, bytes,
                  {{"code", errorCancelled},
                   {"name", errorName(errorCancelled)},
                   {"message", "cancelled by Ctrl-C"},
                   {"cancelled", true}},
                  path + ": cancelled by Ctrl-C; " + done, exitCancelled);
}

Progress::Progress(Session& session, const std::string& label, std::uint64_t total)
    : session_(session),
      label_(label),
      total_(total),
      enabled_(session.terminal && !session.json && session.verbosity >= 0),
      start_(secondsNow()) {}

Progress::~Progress() { finish(); }

void Progress::update(std::uint64_t done) {
    done_ = done;
    session_.progressMade();
    if (!enabled_) return;
    const double now = secondsNow();
    if (lastDraw_ >= 0 && now - lastDraw_ < 0.1 && done_ != total_) return;
    lastDraw_ = now;
    const double elapsed = now - start_ > 1e-6 ? now - start_ : 1e-6;
    const double rate = done_ / elapsed;
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << "\r\033[K" << label_ << " "
         << (total_ ? 100.0 * done_ / total_ : 100.0) << "%  " << done_ / 1048576.0 << " / " << total_ / 1048576.0
         << " MiB  " << rate / 1048576.0 << " MiB/s  ETA ";
    if (rate > 0 && total_ >= done_)
        text << static_cast<std::uint64_t>((total_ - done_) / rate) << " s";
    else
        text << "-";
    if (session_.stats.retries) text << "  retries " << session_.stats.retries;
    session_.err << text.str();
    session_.err.flush();
    shown_ = true;
}

void Progress::line(const std::string& text) {
    if (session_.json) return;
    finish();
    session_.out << text << "\n";
    session_.out.flush();
    lastDraw_ = -1;
}

void Progress::finish() {
    if (shown_) {
        session_.err << "\r\033[K";
        session_.err.flush();
        shown_ = false;
    }
}

}  // namespace gridctl
