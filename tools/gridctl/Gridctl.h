#pragma once

// gridctl: the operator's host program. It loads the plug-in through its factory as the server
// does, installs its own waiting function and sleep, and drives the file-services object from a
// shell. run() is the whole program; main() only hands it the arguments and the standard streams.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <nlohmann/json.hpp>

#include <platform/win32.h>
#include <StravoHost/FileServicesIf.h>

namespace CLI {
class App;
}

namespace gridctl {

// The documented exit codes (docs/gridctl.md).
enum ExitCode {
    exitOk = 0,
    exitFailed = 1,       // the operation failed with a Win32 error
    exitUsage = 2,        // bad arguments, unknown settings key or bad value
    exitPlugin = 3,       // the plug-in could not be loaded
    exitNotVerified = 4,  // the drill's data did not come back identical
    exitSettings = 5,     // a settings store could not be read or written
    exitNoRights = 6,     // the system refused the change: administrator rights are needed
    exitCancelled = 130   // Ctrl-C stopped the command
};

// Runs the tool on argv-style arguments (args[0] is the program's name). terminal: stdout and
// stderr are a terminal (live progress and waiting line, coloured log lines under -v).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal = false);
// Parses the arguments as run() does and stops there: nothing is loaded, changed or run. Returns
// parsedToRun when a command would run, else what run() returns for that command line (exitUsage, or
// exitOk after --help).
const int parsedToRun = -1;
int parseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Ctrl-C: the first one sets the flag; waits end at once and the waiting function says "give up";
// transfers and walks stop between chunks and entries. A second Ctrl-C ends the process at once.
void installInterruptHandler();
void requestCancel();
bool cancelRequested();
void resetCancel();

// The Win32 error's symbolic name ("ERROR_NETNAME_DELETED") and its system message (on Windows
// the system's message table, else the build's table).
std::string errorName(std::uint32_t code);
std::string errorMessage(std::uint32_t code);
nlohmann::json errorJson(std::uint32_t code);

// The default --log file: gridctl.log in the user's state directory ($XDG_STATE_HOME or
// ~/.local/state on Linux, %LOCALAPPDATA% on Windows), else in the temporary directory.
std::string defaultLogFile();

// What the waiting function saw during one run of the tool.
struct RetryStats {
    std::uint64_t retries = 0;  // granted retries
    std::map<std::uint32_t, std::uint64_t> byCode;
    std::uint64_t secondsAsked = 0;  // the waits the library asked the host's sleep for, unscaled
};

// The bounds of --time-scale: every wait the library can ask for (at most 2^31 s) stays sleepable.
const double minTimeScale = 1e-9;
const double maxTimeScale = 1000;

// One run of the tool: global options, the plug-in's object, and how results are printed.
class Session {
  public:
    Session(std::ostream& out, std::ostream& err, bool terminal);
    ~Session();

    std::ostream& out;
    std::ostream& err;
    bool terminal;
    bool json = false;
    std::string pluginPath;
    std::string logFile;
    int verbosity = 0;      // -1 (-q): errors only; 1 (-v): the library's log lines on stderr too
    bool showWaits = true;  // the waiting line (the drill folds its retries into its summary)
    double timeScale = -1;  // negative: the command's default
    boost::shared_ptr<StravoStorageApi::FileServicesIf> services;
    RetryStats stats;
    // Called by the waiting function after each step: the error, and whether it is tried again.
    std::function<void(std::uint32_t, bool)> onRetry;

    // Loads the plug-in, takes its object, installs the waiting function and the sleep. On failure
    // prints why and returns false.
    bool loadPlugin(double defaultTimeScale = 1.0);
    // True when the loaded plug-in is the library this program was linked with (whose system-call
    // table and retry handlers the tool reaches directly).
    bool pluginIsLinkedLibrary() const;

    // Log lines to stderr coloured by severity (Linux build; no-op on Windows).
    void colourLog();

    // Prints a result: the JSON document with --json (with "ok"), else the text.
    void emit(nlohmann::json doc, const std::string& text, bool ok = true);
    // Prints a note on stderr (not under -q).
    void note(const std::string& text);
    // Prints a failed operation with its Win32 error; returns exitFailed, or exitCancelled after
    // Ctrl-C. bytes: what was done before (transfers); done: what happened to partial output.
    int fail(const std::string& command, const std::string& path, std::uint32_t code, std::uint64_t bytes = 0,
             const std::string& done = "");
    // Prints an error without a Win32 code (nothing was changed unless said); returns exitCode.
    // kind names it in JSON: usage, plugin, settings, local, rights, data.
    int error(const std::string& command, const std::string& message, int exitCode = exitUsage,
              const std::string& kind = "usage", const std::string& path = "");
    // Ctrl-C between chunks or entries: says what was done; returns exitCancelled.
    int cancelled(const std::string& command, const std::string& path, std::uint64_t bytes, const std::string& done);
    // The rule count of a Win32 error in a handler built now (0: not retried).
    std::uint32_t retriesFor(std::uint32_t code);

    // A step of the current operation succeeded: the waiting line counts from 1 again.
    void progressMade() { attempt_ = 0; }

  private:
    bool waitAndRetry(const StravoStorageApi::RetryStep& step);
    int sleepScaled(int seconds);
    int finish(const std::string& command, const std::string& path, std::uint64_t bytes, nlohmann::json error,
               const std::string& text, int exitCode);
    void clearWaitLine();

    std::uint32_t waitCode_ = 0;
    std::uint32_t attempt_ = 0;
    bool waitShown_ = false;
    std::map<std::uint32_t, std::uint32_t> ruleCounts_;
    std::unique_ptr<class ColouredLog> colouredLog_;
    void* module_ = nullptr;
    void* factory_ = nullptr;
};

// Registers subcommands; each sets `action` when it is the one parsed.
typedef std::function<int()> Action;
void addFileCommands(CLI::App& app, Session& session, Action& action);
void addPolicyCommands(CLI::App& app, Session& session, Action& action);
void addDrillCommand(CLI::App& app, Session& session, Action& action);
void addEventSourceCommand(CLI::App& app, Session& session, Action& action);

// A FILETIME as "YYYY-MM-DD HH:MM:SS" UTC.
std::string formatFileTime(const FILETIME& time);

// Live progress on a terminal: percent, bytes, rate, ETA (nothing off a terminal or under --json).
class Progress {
  public:
    Progress(Session& session, const std::string& label, std::uint64_t total);
    ~Progress();
    void update(std::uint64_t done);
    // Prints a whole line (clearing the progress line first).
    void line(const std::string& text);
    void finish();

  private:
    Session& session_;
    std::string label_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    bool enabled_;
    bool shown_ = false;
    double start_;
    double lastDraw_ = -1;
};

}  // namespace gridctl
