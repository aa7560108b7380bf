// The command line: global options, the subcommands, and one run of the tool.

#include <sstream>

#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/classification.hpp>
#include <CLI/CLI.hpp>

#include <StravoHost/HostControl.h>

#include "Gridctl.h"

namespace gridctl {

namespace {

struct GlobalOptions {
    std::string settings;
    std::string nodeLocal;
    std::string nodeLocalKeys;
};

// Points the host at the stores and log the options name (the environment's choice otherwise).
void applyHostOptions(const Session& session, const GlobalOptions& options) {
    if (!session.logFile.empty()) StravoHostControl::setLogFile(session.logFile);
    if (!options.settings.empty()) StravoHostControl::setDatabaseFile(options.settings);
    if (!options.nodeLocal.empty()) StravoHostControl::setNodeLocalStore(options.nodeLocal);
    std::vector<std::string> keys;
    boost::algorithm::split(keys, options.nodeLocalKeys, boost::algorithm::is_any_of(","));
    for (const std::string& key : keys) {
        if (!key.empty()) StravoHostControl::setNodeLocalKey(key, true);
    }
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
        "Every subcommand has --help with an example. Exit codes: 0 done, 1 the operation failed (Win32 error "
        "shown), 2 bad usage, 3 plug-in not loaded, 4 drill data not identical, 5 settings store error, "
        "6 administrator rights needed, 130 cancelled by Ctrl-C.\nExample:\n  gridctl --json ls '\\\\gridtest\\share'");
    app.set_version_flag("--version", "gridctl " GRIDAPI_VERSION " (GridApi " GRIDAPI_VERSION ")");
    app.add_option("--plugin", session.pluginPath, "the plug-in to load (default: the one beside this program)");
    app.add_flag("--json", session.json, "print results as JSON");
    app.add_option("--log", session.logFile, "append the library's log lines to this file (default: stderr)");
    app.add_option("--settings", options.settings, "the SQLite settings database (default: $STRAVO_SETTINGS_DB)");
#ifdef _WIN32
    const char* nodeLocalHelp = "the HKEY_LOCAL_MACHINE subkey of node-local settings";
#else
    const char* nodeLocalHelp = "the INI file of node-local settings (default: $STRAVO_NODE_LOCAL_FILE)";
#endif
    app.add_option("--node-local", options.nodeLocal, nodeLocalHelp);
    app.add_option("--node-local-keys", options.nodeLocalKeys, "keys kept node-local, comma-separated");
    app.add_option("--time-scale", session.timeScale,
                   "scale the library's retry waits by this factor (default 1; drill: 0.001)")
        ->check(CLI::PositiveNumber);

    addFileCommands(app, session, action);
    addPolicyCommands(app, session, action);
    addDrillCommand(app, session, action);
    addEventSourceCommand(app, session, action);

    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e, out, err);
        return rc == 0 ? exitOk : exitUsage;
    }
    if (!action) return exitUsage;
    if (parseOnly) return parsedToRun;
    try {
        applyHostOptions(session, options);
        if (terminal && session.logFile.empty()) session.colourLog();
        const bool needsPlugin =
            !app.got_subcommand("settings") && !app.got_subcommand("policy") && !app.got_subcommand("event-source");
        if (needsPlugin && !session.loadPlugin(app.got_subcommand("drill") ? 0.001 : 1.0)) return exitPlugin;
        return action();
    } catch (const std::exception& e) {
        return session.error("error", e.what(), exitSettings);
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
