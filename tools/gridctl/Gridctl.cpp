// The command line: global options, the subcommands, and one run of the tool.

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <CLI/CLI.hpp>

#include <GridApi/UncFileOperationRetryHandler.h>
#include <StravoHost/HostControl.h>
#include <StravoHost/Settings.h>

#include "Gridctl.h"

namespace gridctl {

namespace {

const char* const jitterKey = "FileRetryWaitError";

struct GlobalOptions {
    std::string settings;
    std::string nodeLocal;
    std::string nodeLocalKeys;
    std::int64_t retries = -1;    // -1: the policy's
    std::int64_t retryWait = -1;  // -1: the policy's
    bool noRetry = false;
    bool verbose = false;
    bool quiet = false;
};

// Points the host at the stores the options name (the environment's choice otherwise).
void applyHostOptions(const GlobalOptions& options) {
    if (!options.settings.empty()) StravoHostControl::setDatabaseFile(options.settings);
    if (!options.nodeLocal.empty()) StravoHostControl::setNodeLocalStore(options.nodeLocal);
    std::vector<std::string> keys;
    boost::algorithm::split(keys, options.nodeLocalKeys, boost::algorithm::is_any_of(","));
    for (const std::string& key : keys) {
        if (!key.empty()) StravoHostControl::setNodeLocalKey(key, true);
    }
}

// --retries, --retry-wait and --no-retry: the host's in-memory settings layer, above both stores,
// for this process only. Every rule's count and wait key, taken from the library's rule objects.
void applyRetryOptions(const GlobalOptions& options) {
    if (options.retries < 0 && options.retryWait < 0 && !options.noRetry) return;
    StravoHostControl::setTrace(false);
    const GridApi::UncFileOperationRetryHandler handler("gridctl");
    StravoHostControl::setTrace(true);
    for (const auto& entry : handler.rules) {
        if (options.noRetry || options.retries >= 0)
            StravoHostControl::setSettingOverride(entry.second->retriesKey, options.noRetry ? 0 : options.retries);
        if (options.retryWait >= 0)
            StravoHostControl::setSettingOverride(entry.second->waitSecondsKey, options.retryWait);
    }
    // A wait asked for is the wait: no random extra on top.
    if (options.retryWait >= 0) StravoHostControl::setSettingOverride(jitterKey, 1);
}

// A store that is named but cannot be read: one line, and exit 5 (settings set/unset write it and
// report their own failure).
std::string unreadableStore() {
    std::uint32_t value = 0;
    try {
        if (!StravoHostControl::databaseFile().empty())
            CGlobalSettingHelperAdapter<CDBFactoryRetriever>()->getGlobalSetting(jitterKey, value, value);
    } catch (const std::exception& e) {
        return "the settings database " + StravoHostControl::databaseFile() + " cannot be read: " + e.what();
    }
    try {
        if (!StravoHostControl::nodeLocalStore().empty())
            CGlobalSettingHelperAdapter<CRegFactoryRetriever>()->getGlobalSetting(jitterKey, value, value);
    } catch (const std::exception& e) {
        return "the node-local store " + StravoHostControl::nodeLocalStore() + " cannot be read: " + e.what();
    }
    return "";
}

// The log: to --log (or the default file), and under -v to stderr as well.
bool applyLog(Session& session) {
    if (session.logFile.empty()) session.logFile = defaultLogFile();
    if (!std::ofstream(session.logFile, std::ios::app)) return false;
    StravoHostControl::setLogFile(session.logFile);
    if (session.verbosity > 0) session.colourLog();
    return true;
}

// A clearer word for a command line that names no known command.
std::string usageMessage(const CLI::ParseError& e, CLI::App& app) {
    const std::vector<std::string> rest = app.remaining();
    if (e.get_name() == "RequiredError" && !rest.empty() && rest.front()[0] != '-')
        return "unknown command '" + rest.front() + "' (gridctl --help lists the commands)";
    return std::string(e.what()) + " (gridctl --help shows the usage)";
}

// Parses the command line and, unless parseOnly, runs the command it names.
int parseAndRun(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal,
                bool parseOnly) {
    Session session(out, err, terminal);
    GlobalOptions options;
    Action action;

    CLI::App app(
        "gridctl: the operator's host for the GridApi plug-in. It loads the plug-in as the storage server "
        "does and runs every file operation, the retry policy, the settings and an outage drill.",
        "gridctl");
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(
        "Every subcommand has --help with an example. Names on shares are UNC names (\\\\server\\share\\...); on "
        "Linux \\\\server\\share is the folder $GRIDAPI_UNC_ROOT/server/share (default root /mnt/unc).\n"
        "Exit codes: 0 done, 1 the operation failed (Win32 error shown), 2 bad usage, 3 plug-in not loaded, 4 drill "
        "data not identical, 5 settings store error, 6 administrator rights needed, 130 stopped by Ctrl-C.\n"
        "Example:\n  gridctl --retries 0 --json ls '\\\\gridtest\\share'");
    app.set_version_flag("--version", "gridctl " GRIDAPI_VERSION " (GridApi " GRIDAPI_VERSION ")");
    app.add_option("--plugin", session.pluginPath, "the plug-in to load (default: the one beside this program)");
    app.add_flag("--json", session.json, "print every result and failure as one JSON document on stdout");
    app.add_option("--log", session.logFile,
                   "append the library's log lines to this file (default: gridctl.log in the user's state "
                   "directory, else in the temporary directory" +
                       // This machine's default on a terminal; not in a man page made on another.
                       (terminal ? "; here " + defaultLogFile() : std::string()) + ")")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("-v,--verbose", options.verbose, "print the library's log lines on stderr too");
    app.add_flag("-q,--quiet", options.quiet, "print errors only: no waiting line, progress or notes");
    app.add_option("--settings", options.settings, "the SQLite settings database (default: $STRAVO_SETTINGS_DB)");
#ifdef _WIN32
    const char* nodeLocalHelp = "the HKEY_LOCAL_MACHINE subkey of node-local settings";
#else
    const char* nodeLocalHelp = "the INI file of node-local settings (default: $STRAVO_NODE_LOCAL_FILE)";
#endif
    app.add_option("--node-local", options.nodeLocal, nodeLocalHelp);
    app.add_option("--node-local-keys", options.nodeLocalKeys, "keys kept node-local, comma-separated");
    app.add_option("--retries", options.retries,
                   "retry every error at most N times (this run only; the library "
                   "still bounds it, policy shows the result)")
        ->check(CLI::Range(0, 1000000));
    app.add_option("--retry-wait", options.retryWait,
                   "wait S seconds before each retry, without a random extra (this run only)")
        ->check(CLI::Range(0, 86400));
    app.add_flag("--no-retry", options.noRetry, "fail at the first error (as --retries 0)");
    app.add_option("--time-scale", session.timeScale,
                   "scale the library's retry waits by this factor (default 1; drill: 0.001)")
        ->check(CLI::Validator(
            [](std::string& text) {
                double value = 0;
                std::istringstream in(text);
                in >> value;
                if (!in || !in.eof() || !std::isfinite(value) || value < minTimeScale || value > maxTimeScale) {
                    std::ostringstream message;
                    message << "must be a number from " << minTimeScale << " to " << maxTimeScale;
                    return message.str();
                }
                return std::string();
            },
            "FACTOR"));

    addFileCommands(app, session, action);
    addPolicyCommands(app, session, action);
    addDrillCommand(app, session, action);
    addEventSourceCommand(app, session, action);

    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err) == 0 ? exitOk : exitUsage;
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err) == 0 ? exitOk : exitUsage;
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err) == 0 ? exitOk : exitUsage;
    } catch (const CLI::ParseError& e) {
        session.json = std::find(args.begin(), args.end(), "--json") != args.end();
        return session.error("usage", usageMessage(e, app));
    }
    if (!action) return session.error("usage", "no command given (gridctl --help lists them)");
    if (parseOnly) return parsedToRun;
    session.verbosity = options.quiet ? -1 : options.verbose ? 1 : 0;
    try {
        if (!applyLog(session)) {
            return session.error("log", "cannot write the log file " + session.logFile + "; name another with --log");
        }
        applyHostOptions(options);
        applyRetryOptions(options);
        const bool writesStore =
            app.got_subcommand("settings") && (app.get_subcommand("settings")->got_subcommand("set") ||
                                               app.get_subcommand("settings")->got_subcommand("unset"));
        const std::string unreadable = writesStore ? "" : unreadableStore();
        if (!unreadable.empty()) return session.error("settings", unreadable, exitSettings, "settings");
        const bool needsPlugin =
            !app.got_subcommand("settings") && !app.got_subcommand("policy") && !app.got_subcommand("event-source");
        if (needsPlugin && !session.loadPlugin(app.got_subcommand("drill") ? 0.001 : 1.0)) return exitPlugin;
        const int rc = action();
        out.flush();
        if (!out && rc == exitOk) {
            err << "gridctl: cannot write to standard output\n";
            return exitFailed;
        }
        return rc;
    } catch (const std::exception& e) {
        return session.error("error", e.what(), exitSettings, "settings");
    }
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
    resetCancel();
    StravoHostControl::resetToDefaults();
    return parseAndRun(args, out, err, terminal, false);
}

int parseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return parseAndRun(args, out, err, false, true);
}

}  // namespace gridctl
