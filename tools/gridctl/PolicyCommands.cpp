// policy and settings: the retry table a handler built now would use, and the settings keys of the
// library on both sides (database, node-local). Keys, defaults and bounds come from the library's
// own rule objects, never from a copy of them here.

#include <algorithm>
#include <iomanip>
#include <limits>
#include <sstream>

#include <CLI/CLI.hpp>

#include <GridApi/CreateFileA.h>
#include <GridApi/FileOperationRetry.h>
#include <GridApi/UncFileOperationRetryHandler.h>
#include <StravoHost/HostControl.h>
#include <StravoHost/Settings.h>

#include "Gridctl.h"

namespace gridctl {

namespace {

// The library's own keys and default (the write-through setting is read by the CreateFile command only).
const char* const jitterKey = StravoStorageApi::retryWaitErrorKey;
using GridApi::writeThroughDefault;
using GridApi::writeThroughKey;

// A setting as one store holds it.
struct Stored {
    bool present = false;
    std::int64_t value = 0;
    std::string error;  // the store could not be read
};

enum class KeyType { count, seconds, jitter, flag };

struct KeyInfo {
    std::string key;
    KeyType type;
    std::int64_t defaultValue;
    std::uint32_t code;  // the rule's error, 0 for the keys of no single rule
};

const char* typeName(KeyType type) {
    switch (type) {
        case KeyType::count:
            return "count";
        case KeyType::seconds:
            return "seconds";
        case KeyType::jitter:
            return "seconds (random extra)";
        case KeyType::flag:
            return "flag (0 or 1)";
    }
    return "";
}

// Reads the key from one store: present or not (two reads with different defaults tell), or why not.
template <class Retriever, class Value>
Stored readStore(const std::string& key) {
    Stored result;
    try {
        Value first = 0;
        CGlobalSettingHelperAdapter<Retriever>()->getGlobalSetting(key, first, Value(0));
        if (first != 0) {
            result.present = true;
            result.value = first;
            return result;
        }
        Value second = 1;
        CGlobalSettingHelperAdapter<Retriever>()->getGlobalSetting(key, second, Value(1));
        result.present = second == 0;
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    return result;
}

template <class Retriever>
Stored readTyped(const KeyInfo& info) {
    return info.type == KeyType::flag ? readStore<Retriever, std::int32_t>(info.key)
                                      : readStore<Retriever, std::uint32_t>(info.key);
}

bool isNodeLocal(const std::string& key) {
    return StaticSingleton::CStaticSingleton<GlobalConfig>::instance().isNodeLocalConfig(key);
}

// The side the library reads the key from, as it would read it now.
Stored readEffectiveSide(const std::string& key, KeyType type) {
    const KeyInfo info{key, type, 0, 0};
    return isNodeLocal(key) ? readTyped<CRegFactoryRetriever>(info) : readTyped<CDBFactoryRetriever>(info);
}

nlohmann::json storedJson(const Stored& stored) {
    if (!stored.error.empty()) return {{"error", stored.error}};
    if (!stored.present) return nullptr;
    return stored.value;
}

std::string storedText(const Stored& stored) {
    if (!stored.error.empty()) return "(unreadable)";
    return stored.present ? std::to_string(stored.value) : "-";
}

// Where one effective value came from: default, database, node-local, or a stored value bounded.
struct Source {
    std::string text;
    nlohmann::json json;
};

Source sourceOf(const std::string& key, KeyType type, std::int64_t effective, std::int64_t bound) {
    Stored stored;
    std::string side = "command line";
    std::int64_t option = 0;
    if (StravoHostControl::settingOverride(key, option)) {
        stored.present = true;
        stored.value = option;
    } else {
        stored = readEffectiveSide(key, type);
        side = isNodeLocal(key) ? "node-local" : "database";
    }
    Source source;
    source.json = {{"key", key}, {"side", side}};
    if (!stored.error.empty()) {
        source.text = "default (" + side + " unreadable)";
        source.json["source"] = "default";
        source.json["error"] = stored.error;
    } else if (!stored.present) {
        source.text = "default";
        source.json["source"] = "default";
    } else if (stored.value == effective) {
        source.text = side;
        source.json["source"] = side;
    } else {
        source.text = side + " " + std::to_string(stored.value) + ", bounded to " + std::to_string(effective);
        source.json["source"] = "bounded";
        source.json["stored"] = stored.value;
        source.json["bound"] = bound;
    }
    return source;
}

std::string storeName(const std::string& store) { return store.empty() ? "none" : store; }

class PolicyCommands {
  public:
    PolicyCommands(Session& session, bool traceBounds) : s(session), handler_(buildHandler(traceBounds)) {
        collectKeys();
    }

    int policy() {
        nlohmann::json rules = nlohmann::json::array();
        std::ostringstream text;
        text << "retry policy of a handler built now (database: " << storeName(StravoHostControl::databaseFile())
             << ", node-local: " << storeName(StravoHostControl::nodeLocalStore()) << ")\n"
             << std::left << std::setw(6) << "code" << std::setw(30) << "error" << std::right << std::setw(6) << "count"
             << "  " << std::left << std::setw(32) << "count from" << std::right << std::setw(6) << "wait"
             << "  " << std::left << std::setw(32) << "wait from"
             << "  extra\n";
        std::uint32_t jitter = 1;
        for (const auto& entry : handler_.rules) {
            const StravoStorageApi::FileOperationRetry& rule = *entry.second;
            jitter = rule.waitJitterSeconds;
            const Source count = sourceOf(rule.retriesKey, KeyType::count, rule.numRetries, rule.maxRetries);
            const std::uint32_t waitBound =
                rule.waitSeconds == rule.minWaitSeconds ? rule.minWaitSeconds : rule.maxWaitSeconds;
            const Source wait = sourceOf(rule.waitSecondsKey, KeyType::seconds, rule.waitSeconds, waitBound);
            text << std::left << std::setw(6) << entry.first << std::setw(30) << errorName(entry.first) << std::right
                 << std::setw(6) << rule.numRetries << "  " << std::left << std::setw(32) << count.text << std::right
                 << std::setw(5) << rule.waitSeconds << "s  " << std::left << std::setw(32) << wait.text << "  0-"
                 << rule.waitJitterSeconds - 1 << "s\n";
            nlohmann::json countJson = count.json, waitJson = wait.json;
            countJson["value"] = rule.numRetries;
            countJson["default"] = rule.defaultRetries;
            countJson["max"] = rule.maxRetries;
            waitJson["value"] = rule.waitSeconds;
            waitJson["default"] = rule.defaultWaitSeconds;
            waitJson["min"] = rule.minWaitSeconds;
            waitJson["max"] = rule.maxWaitSeconds;
            rules.push_back({{"code", entry.first},
                             {"name", errorName(entry.first)},
                             {"rule", rule.description},
                             {"count", countJson},
                             {"waitSeconds", waitJson},
                             {"extraSeconds", {{"min", 0}, {"max", rule.waitJitterSeconds - 1}}}});
        }
        const Source extra = sourceOf(jitterKey, KeyType::jitter, jitter, 1);
        text << "extra: a random 0 to " << jitter - 1 << " s added to each wait (" << jitterKey << " = " << jitter
             << ", " << extra.text << ")\n";
        nlohmann::json extraJson = extra.json;
        extraJson["value"] = jitter;
        s.emit({{"command", "policy"},
                {"database", StravoHostControl::databaseFile()},
                {"nodeLocal", StravoHostControl::nodeLocalStore()},
                {"rules", rules},
                {"extra", extraJson}},
               text.str());
        return exitOk;
    }

    int list() {
        nlohmann::json keys = nlohmann::json::array();
        std::ostringstream text;
        text << std::left << std::setw(34) << "key" << std::setw(10) << "default" << std::setw(14) << "database"
             << std::setw(14) << "node-local"
             << "read from\n";
        for (const KeyInfo& info : keys_) {
            const nlohmann::json doc = keyJson(info);
            text << std::left << std::setw(34) << info.key << std::setw(10) << info.defaultValue << std::setw(14)
                 << storedText(readTyped<CDBFactoryRetriever>(info)) + " " << std::setw(14)
                 << storedText(readTyped<CRegFactoryRetriever>(info)) + " " << doc["readFrom"].get<std::string>()
                 << "\n";
            keys.push_back(doc);
        }
        s.emit({{"command", "settings list"},
                {"database", StravoHostControl::databaseFile()},
                {"nodeLocal", StravoHostControl::nodeLocalStore()},
                {"keys", keys}},
               text.str());
        return exitOk;
    }

    int get(const std::string& key) {
        const KeyInfo* info = find(key);
        if (!info) return unknownKey("settings get", key);
        const nlohmann::json doc = keyJson(*info);
        std::ostringstream text;
        text << info->key << " (" << typeName(info->type) << ", default " << info->defaultValue << ", read from "
             << doc["readFrom"].get<std::string>() << ")\n"
             << "  database:   " << storedText(readTyped<CDBFactoryRetriever>(*info)) << "\n"
             << "  node-local: " << storedText(readTyped<CRegFactoryRetriever>(*info)) << "\n";
        nlohmann::json out = doc;
        out["command"] = "settings get";
        s.emit(out, text.str());
        return exitOk;
    }

    // value empty: unset. Validates everything before the one write.
    int set(const std::string& key, const std::string* value, const std::string& side) {
        const char* command = value ? "settings set" : "settings unset";
        const KeyInfo* info = find(key);
        if (!info) return unknownKey(command, key);
        std::int64_t number = 0;
        if (value && !parseValue(*info, *value, number)) {
            return s.error(command, "bad value '" + *value + "' for " + info->key + ": expected " + expected(*info) +
                                        "; nothing was changed");
        }
        const bool nodeLocal = side.empty() ? isNodeLocal(info->key) : side == "node-local";
        const std::string store = nodeLocal ? StravoHostControl::nodeLocalStore() : StravoHostControl::databaseFile();
        if (store.empty()) {
            return s.error(command,
                           nodeLocal ? "no node-local store: name one with --node-local (or STRAVO_NODE_LOCAL_FILE)"
                                     : "no settings database: name one with --settings FILE (or STRAVO_SETTINGS_DB)",
                           exitSettings);
        }
        try {
            if (nodeLocal) {
                // Named explicitly, so that the host writes to this store and not to one of its own.
                StravoHostControl::setNodeLocalStore(store);
                value ? StravoHostControl::setNodeLocalSetting(info->key, number)
                      : StravoHostControl::clearNodeLocalSetting(info->key);
            } else {
                value ? StravoHostControl::setDatabaseSetting(info->key, number)
                      : StravoHostControl::clearDatabaseSetting(info->key);
            }
        } catch (const std::exception& e) {
            return s.error(command, std::string("cannot write ") + store + ": " + e.what(), exitSettings);
        }
        const std::string sideName = nodeLocal ? "node-local" : "database";
        nlohmann::json doc = {{"command", command}, {"key", info->key}, {"side", sideName}, {"store", store}};
        std::string text = (value ? "set " + info->key + " = " + std::to_string(number) : "unset " + info->key) + " (" +
                           sideName + ": " + store + ")\n";
        if (value) doc["value"] = number;
        const std::int64_t bound = value ? boundOf(*info, number) : number;
        if (bound != number) {
            doc["bounded"] = bound;
            text += "note: the library bounds " + info->key + " to " + std::to_string(bound) + "; it uses " +
                    std::to_string(bound) + ", not " + std::to_string(number) + "\n";
        }
        s.emit(doc, text);
        return exitOk;
    }

    // docs/settings.md: every key with its type, default and bounds, from the rule objects and the
    // handlers themselves, independent of what the stores hold now.
    int reference() {
        std::ostringstream doc;
        doc << "# Settings reference\n\n"
               "Generated by `gridctl settings reference` from the library's own rule objects and handlers;\n"
               "the package tests fail when this file and the code disagree.\n\n"
               "Every key is a global setting of the server. It is read from the server's settings database,\n"
               "unless the host names the key node-local: then from the node's own store (the registry on\n"
               "Windows, an INI file on Linux; see `host.md`). A key that is absent, or whose database read\n"
               "fails, leaves the default. Values outside the bounds are bounded (a trace line says so).\n\n"
               "| Key | Type | Default | Bounds | Rule | Read |\n|---|---|---|---|---|---|\n";
        const char* const ruleRead = "when its operation's handler is built (once per process, at the first call)";
        for (const auto& entry : handler_.rules) {
            const StravoStorageApi::FileOperationRetry& rule = *entry.second;
            const std::string name = std::to_string(entry.first) + " " + errorName(entry.first);
            doc << "| `" << rule.retriesKey << "` | " << typeName(KeyType::count) << " | " << rule.defaultRetries
                << " | " << bounds(rule.minRetries, rule.maxRetries) << " | " << name << " | " << ruleRead << " |\n"
                << "| `" << rule.waitSecondsKey << "` | " << typeName(KeyType::seconds) << " | "
                << rule.defaultWaitSeconds << " | " << bounds(rule.minWaitSeconds, rule.maxWaitSeconds) << " | " << name
                << " | " << ruleRead << " |\n";
        }
        const StravoStorageApi::FileOperationRetry unread("gridctl");
        doc << "| `" << jitterKey << "` | " << typeName(KeyType::jitter) << " | " << unread.waitJitterSeconds
            << " | the extra at most the rule's wait bound, and 3600 s; 0 counts as 1 | every rule: a random 0 to "
               "value - 1 s added to each wait | with each rule's keys |\n"
            << "| `" << writeThroughKey << "` | " << typeName(KeyType::flag) << " | " << writeThroughDefault
            << " | 0 or 1 | 1 adds `FILE_FLAG_WRITE_THROUGH` to every `CreateFileA` | once per process, at the "
               "first `CreateFileA` |\n\n"
               "## Handlers\n\n"
               "Every retrying operation has its own handler with the rules above, except these, which leave\n"
               "some errors to the caller (their keys are still read when the handler is built):\n\n"
               "| Handler | Errors not retried |\n|---|---|\n";
        exceptions<GridApi::PathFileExistsRetryHandler>(doc, "PathFileExists");
        exceptions<GridApi::PathIsDirectoryRetryHandler>(doc, "PathIsDirectory");
        exceptions<GridApi::PathIsDirectoryEmptyRetryHandler>(doc, "PathIsDirectoryEmpty");
        s.out << doc.str();
        return exitOk;
    }

  private:
    static std::string bounds(std::uint32_t low, std::uint32_t high) {
        if (high == std::numeric_limits<std::uint32_t>::max()) return low == 0 ? "none" : ">= " + std::to_string(low);
        return std::to_string(low) + " to " + std::to_string(high);
    }

    // One row: the codes of the full rule set that the handler leaves out.
    template <class Handler>
    void exceptions(std::ostream& doc, const char* name) const {
        StravoHostControl::setTrace(false);
        const Handler handler;
        StravoHostControl::setTrace(true);
        std::string missing;
        for (const auto& entry : handler_.rules) {
            if (handler.rules.count(entry.first)) continue;
            missing += (missing.empty() ? "" : ", ") + std::to_string(entry.first) + " " + errorName(entry.first);
        }
        doc << "| " << name << " | " << missing << " |\n";
    }

    // A handler reads its settings when built; its trace lines (bounded values, unreadable stores)
    // belong to the policy, not to the settings commands, which report the stores themselves.
    static GridApi::UncFileOperationRetryHandler buildHandler(bool trace) {
        if (trace) return GridApi::UncFileOperationRetryHandler("gridctl");
        StravoHostControl::setTrace(false);
        GridApi::UncFileOperationRetryHandler handler("gridctl");
        StravoHostControl::setTrace(true);
        return handler;
    }

    void collectKeys() {
        for (const auto& entry : handler_.rules) {
            const StravoStorageApi::FileOperationRetry& rule = *entry.second;
            keys_.push_back({rule.retriesKey, KeyType::count, rule.defaultRetries, entry.first});
            keys_.push_back({rule.waitSecondsKey, KeyType::seconds, rule.defaultWaitSeconds, entry.first});
        }
        // A rule that has read no settings still holds the library's default extra wait.
        const StravoStorageApi::FileOperationRetry unread("gridctl");
        keys_.push_back({jitterKey, KeyType::jitter, unread.waitJitterSeconds, 0});
        keys_.push_back({writeThroughKey, KeyType::flag, writeThroughDefault, 0});
    }

    // The value a rule uses for a stored value of one of its keys.
    std::int64_t boundOf(const KeyInfo& info, std::int64_t value) const {
        for (const auto& entry : handler_.rules) {
            const StravoStorageApi::FileOperationRetry& rule = *entry.second;
            if (info.key == rule.retriesKey) return std::min<std::int64_t>(value, rule.maxRetries);
            if (info.key == rule.waitSecondsKey)
                return std::max<std::int64_t>(rule.minWaitSeconds, std::min<std::int64_t>(value, rule.maxWaitSeconds));
        }
        return value;
    }

    const KeyInfo* find(const std::string& key) const {
        for (const KeyInfo& info : keys_) {
            if (info.key == key) return &info;
        }
        return nullptr;
    }

    int unknownKey(const char* command, const std::string& key) {
        return s.error(command, "unknown settings key '" + key +
                                    "' (gridctl settings list shows the known keys); nothing was changed");
    }

    static std::string expected(const KeyInfo& info) {
        return info.type == KeyType::flag ? "0 or 1" : "a whole number from 0 to 4294967295";
    }

    static bool parseValue(const KeyInfo& info, const std::string& text, std::int64_t& value) {
        if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
        value = std::stoll(text);
        if (info.type == KeyType::flag) return value == 0 || value == 1;
        return value <= static_cast<std::int64_t>(std::numeric_limits<std::uint32_t>::max());
    }

    nlohmann::json keyJson(const KeyInfo& info) const {
        nlohmann::json doc = {{"key", info.key},
                              {"type", typeName(info.type)},
                              {"default", info.defaultValue},
                              {"readFrom", isNodeLocal(info.key) ? "node-local" : "database"},
                              {"database", storedJson(readTyped<CDBFactoryRetriever>(info))},
                              {"nodeLocal", storedJson(readTyped<CRegFactoryRetriever>(info))}};
        if (info.code) doc["code"] = info.code;
        return doc;
    }

    Session& s;
    GridApi::UncFileOperationRetryHandler handler_;
    std::vector<KeyInfo> keys_;
};

struct SettingsArgs {
    std::string key;
    std::string value;
    std::string side;
};

}  // namespace

void addPolicyCommands(CLI::App& app, Session& session, Action& action) {
    CLI::App* policy = app.add_subcommand("policy", "Show the retry table a handler built now would use");
    policy->footer("Example:\n  gridctl --settings settings.db policy");
    policy->callback([&action, &session] { action = [&session] { return PolicyCommands(session, true).policy(); }; });

    CLI::App* settings = app.add_subcommand("settings", "List, read, set and remove the library's settings");
    settings->require_subcommand(1);
    settings->footer("Example:\n  gridctl --settings settings.db settings set NumRetriesNetNameDel 30");
    auto args = std::make_shared<SettingsArgs>();
    const std::string sideHelp = "database or node-local (default: the side the library reads the key from)";

    CLI::App* list = settings->add_subcommand("list", "Every known key: default, both stores, the side read");
    list->footer("Example:\n  gridctl --settings settings.db settings list");
    list->callback([&action, &session] { action = [&session] { return PolicyCommands(session, false).list(); }; });

    CLI::App* reference = settings->add_subcommand("reference", "Every key the library reads, as Markdown");
    reference->footer("Example:\n  gridctl settings reference > docs/settings.md");
    reference->callback(
        [&action, &session] { action = [&session] { return PolicyCommands(session, false).reference(); }; });

    CLI::App* get = settings->add_subcommand("get", "One key: default and both stores");
    get->footer("Example:\n  gridctl settings get FileRetryWaitError");
    get->add_option("key", args->key, "the settings key")->required();
    get->callback([&action, &session, args] {
        action = [&session, args] { return PolicyCommands(session, false).get(args->key); };
    });

    CLI::App* set = settings->add_subcommand("set", "Store a value (checked against the key's type first)");
    set->footer("Example:\n  gridctl --settings settings.db settings set SemTimeoutWaitSeconds 2");
    set->add_option("key", args->key, "the settings key")->required();
    set->add_option("value", args->value, "the new value")->required();
    set->add_option("--side", args->side, sideHelp)->check(CLI::IsMember({"database", "node-local"}));
    set->callback([&action, &session, args] {
        action = [&session, args] { return PolicyCommands(session, false).set(args->key, &args->value, args->side); };
    });

    CLI::App* unset = settings->add_subcommand("unset", "Remove a value (the default applies again)");
    unset->footer("Example:\n  gridctl --settings settings.db settings unset SemTimeoutWaitSeconds");
    unset->add_option("key", args->key, "the settings key")->required();
    unset->add_option("--side", args->side, sideHelp)->check(CLI::IsMember({"database", "node-local"}));
    unset->callback([&action, &session, args] {
        action = [&session, args] { return PolicyCommands(session, false).set(args->key, nullptr, args->side); };
    });
}

}  // namespace gridctl
