// The settings configuration: which stores the two sides read, which keys are node-local, the
// injected failures, the temporary stores; and the control surface calls that set them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <StravoHost/HostControl.h>

#include "Internal.h"
#include "SettingsInternal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace StravoHostInternal {

namespace {

// Stores the control surface created; removed when the process exits.
class TemporaryFiles {
  public:
    ~TemporaryFiles() {
        closeDatabaseReads();  // Windows removes no file that is open
        for (const std::string& file : files_) std::remove(file.c_str());
#if defined(_WIN32)
        for (const std::string& key : registryKeys_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
#endif
    }
    void add(const std::string& file) {
        std::lock_guard<std::mutex> lock(mutex_);
        files_.push_back(file);
    }
    void addRegistryKey(const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        registryKeys_.push_back(key);
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> files_;
    std::vector<std::string> registryKeys_;
};

TemporaryFiles& temporaryFiles() {
    static TemporaryFiles files;
    return files;
}

}  // namespace

void SettingsState::applyEnvironment() {
    const Environment& env = environment();
    databaseFile = env.settingsDb;
    ++databaseGeneration;
    nodeLocalStore = env.nodeLocalStore;
    nodeLocalStoreIsDefault = env.nodeLocalStoreIsDefault;
    nodeLocalKeys = env.nodeLocalKeys;
    databaseFailure.reset();
    nodeLocalFailure.reset();
}

SettingsState& settings() {
    static SettingsState* instance = new SettingsState();
    return *instance;
}

std::string databaseFileForRead(unsigned* generation) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.databaseFailure) throw SettingsError(*s.databaseFailure);
    *generation = s.databaseGeneration;
    return s.databaseFile;
}

std::string nodeLocalStoreForRead() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.nodeLocalFailure) throw SettingsError(*s.nodeLocalFailure);
    return s.nodeLocalStore;
}

std::string makeTemporaryFile(const char* kind) {
    std::string file;
#if defined(_WIN32)
    char directory[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    if (GetTempPathA(sizeof directory, directory) == 0 || GetTempFileNameA(directory, kind, 0, name) == 0) {
        throw SettingsError(std::string("cannot create a temporary ") + kind + " file: error " +
                            std::to_string(GetLastError()));
    }
    file = name;
#else
    const char* directory = std::getenv("TMPDIR");
    std::string pattern = std::string(directory && *directory ? directory : "/tmp") + "/stravo-" + kind + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        throw SettingsError(std::string("cannot create a temporary ") + kind + " file: " + std::strerror(errno));
    }
    close(fd);
    file = name.data();
#endif
    temporaryFiles().add(file);
    return file;
}

void addTemporaryRegistryKey(const std::string& key) { temporaryFiles().addRegistryKey(key); }

void resetSettings() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.applyEnvironment();
}

}  // namespace StravoHostInternal

using StravoHostInternal::settings;
using StravoHostInternal::SettingsState;

SettingsError::SettingsError(const std::string& message) : std::runtime_error(message) {}
SettingsError::SettingsError(const SettingsError& other) = default;
SettingsError& SettingsError::operator=(const SettingsError& other) = default;
SettingsError::~SettingsError() = default;

CGlobalSettingHelper::~CGlobalSettingHelper() = default;

GlobalConfig::GlobalConfig() = default;
GlobalConfig::~GlobalConfig() = default;

bool GlobalConfig::isNodeLocalConfig(std::string key) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.nodeLocalKeys.count(key) != 0;
}

namespace StravoHostControl {

void clearAllSettings() {
    StravoHostInternal::clearDatabaseStore();
    StravoHostInternal::clearNodeLocalStore();
}

void setDatabaseFile(const std::string& path) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.databaseFile = path;
    ++s.databaseGeneration;
}

std::string databaseFile() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.databaseFile;
}

void setNodeLocalStore(const std::string& store) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.nodeLocalStore = store;
    s.nodeLocalStoreIsDefault = false;
}

std::string nodeLocalStore() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.nodeLocalStore;
}

void setNodeLocalKey(const std::string& key, bool nodeLocal) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (nodeLocal) {
        s.nodeLocalKeys.insert(key);
    } else {
        s.nodeLocalKeys.erase(key);
    }
}

void failDatabaseSettings(const std::string& message) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.databaseFailure = message;
}

void failNodeLocalSettings(const std::string& message) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.nodeLocalFailure = message;
}

void clearSettingsFailures() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.databaseFailure.reset();
    s.nodeLocalFailure.reset();
}

}  // namespace StravoHostControl
