// event-source install|uninstall|status: the registration of the library's event source under the
// Application event log, so that Event Viewer finds the text of its events in the message table of
// GridApi.dll. Writing or removing it needs an administrator; without the rights nothing changes.

#include <CLI/CLI.hpp>

#include "Gridctl.h"

namespace gridctl {

namespace {

const char* const eventSource = GRID_EVENT_SOURCE;

struct EventSourceArgs {
    std::string messageFile;
};

#ifdef _WIN32

const char* const applicationLog = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
const std::uint32_t typesSupported = 7;  // error, warning, information

std::string sourceKey() { return std::string(applicationLog) + eventSource; }

// The loaded GridApi.dll, whose message table the events' text comes from.
std::string pluginFile() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(GetModuleHandleA("GridApi.dll"), path, sizeof path);
    return std::string(path, length);
}

int registryFailure(Session& s, const std::string& command, const std::string& doing, LONG code) {
    if (code == ERROR_ACCESS_DENIED) {
        return s.error(command,
                       "access denied " + doing + " HKLM\\" + sourceKey() +
                           ": run it as an administrator (elevated prompt); nothing was changed",
                       exitNoRights);
    }
    return s.fail(command, "HKLM\\" + sourceKey(), static_cast<std::uint32_t>(code));
}

int install(Session& s, const EventSourceArgs& args) {
    const char* command = "event-source install";
    const std::string file = args.messageFile.empty() ? pluginFile() : args.messageFile;
    HKEY key = nullptr;
    LONG rc =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, sourceKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return registryFailure(s, command, "creating", rc);
    const DWORD types = typesSupported;
    rc = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                        static_cast<DWORD>(file.size() + 1));
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return registryFailure(s, command, "writing", rc);
    s.emit({{"command", command}, {"source", eventSource}, {"key", "HKLM\\" + sourceKey()}, {"messageFile", file}},
           "registered event source \"" + std::string(eventSource) + "\": EventMessageFile " + file + "\n");
    return exitOk;
}

int uninstall(Session& s) {
    const char* command = "event-source uninstall";
    const LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, sourceKey().c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return registryFailure(s, command, "removing", rc);
    const bool removed = rc == ERROR_SUCCESS;
    s.emit({{"command", command}, {"source", eventSource}, {"removed", removed}},
           removed ? "removed event source \"" + std::string(eventSource) + "\"\n"
                   : "event source \"" + std::string(eventSource) + "\" was not registered; nothing to remove\n");
    return exitOk;
}

int status(Session& s) {
    const char* command = "event-source status";
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, sourceKey().c_str(), 0, KEY_QUERY_VALUE, &key);
    if (rc == ERROR_FILE_NOT_FOUND) {
        s.emit({{"command", command}, {"source", eventSource}, {"registered", false}},
               "event source \"" + std::string(eventSource) + "\" is not registered\n");
        return exitFailed;
    }
    if (rc != ERROR_SUCCESS) return registryFailure(s, command, "reading", rc);
    char file[MAX_PATH * 2] = {};
    DWORD fileType = 0, fileSize = sizeof file - 1;
    DWORD types = 0, typesType = 0, typesSize = sizeof types;
    const bool hasFile = RegQueryValueExA(key, "EventMessageFile", nullptr, &fileType, reinterpret_cast<BYTE*>(file),
                                          &fileSize) == ERROR_SUCCESS &&
                         fileType == REG_EXPAND_SZ;
    const bool hasTypes = RegQueryValueExA(key, "TypesSupported", nullptr, &typesType, reinterpret_cast<BYTE*>(&types),
                                           &typesSize) == ERROR_SUCCESS &&
                          typesType == REG_DWORD;
    RegCloseKey(key);
    char expanded[MAX_PATH * 2] = {};
    const bool fileExists = hasFile && ExpandEnvironmentStringsA(file, expanded, sizeof expanded) > 0 &&
                            GetFileAttributesA(expanded) != INVALID_FILE_ATTRIBUTES;
    const bool complete = hasFile && hasTypes && types == typesSupported && fileExists;
    nlohmann::json doc = {{"command", command},
                          {"source", eventSource},
                          {"registered", true},
                          {"complete", complete},
                          {"key", "HKLM\\" + sourceKey()}};
    doc["messageFile"] = hasFile ? nlohmann::json(file) : nlohmann::json(nullptr);
    doc["messageFileExists"] = fileExists;
    doc["typesSupported"] = hasTypes ? nlohmann::json(types) : nlohmann::json(nullptr);
    s.emit(doc, "event source \"" + std::string(eventSource) + "\" is registered" +
                    (complete ? "" : " but incomplete") + "\n  EventMessageFile: " +
                    (hasFile ? std::string(file) + (fileExists ? "" : " (missing)") : "(none, or not REG_EXPAND_SZ)") +
                    "\n  TypesSupported:   " + (hasTypes ? std::to_string(types) : "(none, or not REG_DWORD)") + "\n");
    return complete ? exitOk : exitFailed;
}

#endif

int run(Session& s, const std::string& command, const EventSourceArgs& args) {
#ifdef _WIN32
    if (command == "install") return install(s, args);
    if (command == "uninstall") return uninstall(s);
    return status(s);
#else
    (void)args;
    return s.error("event-source " + command,
                   "the Windows event log only: on Linux the library's events go to syslog with the ident \"" +
                       std::string(eventSource) + "\", which needs no registration");
#endif
}

}  // namespace

void addEventSourceCommand(CLI::App& app, Session& session, Action& action) {
    CLI::App* command = app.add_subcommand(
        "event-source", std::string("Register the event source \"") + eventSource + "\" with the Application log");
    command->require_subcommand(1);
    command->footer("Example:\n  gridctl event-source status");
    auto args = std::make_shared<EventSourceArgs>();
    const std::pair<const char*, const char*> subcommands[] = {
        {"install", "write EventMessageFile (this GridApi.dll) and TypesSupported (7)"},
        {"uninstall", "remove the registration"},
        {"status", "show the registration (exit code 1 when missing or incomplete)"}};
    for (const auto& sub : subcommands) {
        CLI::App* app_ = command->add_subcommand(sub.first, sub.second);
        app_->footer(std::string("Example") + (std::string(sub.first) == "status" ? "" : " (elevated)") +
                     ":\n  gridctl event-source " + sub.first);
        if (std::string(sub.first) == "install") {
            app_->add_option("--message-file", args->messageFile, "the message file (default: the loaded GridApi.dll)");
        }
        const std::string name = sub.first;
        app_->callback(
            [&action, &session, args, name] { action = [&session, args, name] { return run(session, name, *args); }; });
    }
}

}  // namespace gridctl
