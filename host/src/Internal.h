#pragma once

// Pieces shared by the host's translation units; not exported.

#include <cstdarg>
#include <cstdint>
#include <set>
#include <string>

namespace StravoHostInternal {

// printf-style formatting into a std::string (an invalid format yields an empty string).
std::string vformat(const char* format, va_list args);

// The environment's configuration, read once on first use.
struct Environment {
    std::string logFile;     // STRAVO_LOG_FILE; empty = stderr
    bool trace = true;       // STRAVO_TRACE; "0" turns traces off
    std::string settingsDb;  // STRAVO_SETTINGS_DB; empty = no database
    // Linux: STRAVO_NODE_LOCAL_FILE, empty = no file. Windows: the HKEY_LOCAL_MACHINE subkey from
    // STRAVO_NODE_LOCAL_REGISTRY_KEY, by default SOFTWARE\Stravo\GlobalSettings.
    std::string nodeLocalStore;
    bool nodeLocalStoreIsDefault = false;  // no variable named it
    std::set<std::string> nodeLocalKeys;   // STRAVO_NODE_LOCAL_KEYS, comma-separated
    std::string messageModule;             // STRAVO_MESSAGE_MODULE
};
const Environment& environment();

// Each part of the host back to what the environment configured (see StravoHostControl).
void resetLog();
void resetSettings();
void resetSleep();
void resetVerifiedMove();

}  // namespace StravoHostInternal
