#include <StravoHost/Settings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/optional.hpp>

#include <sqlite3.h>

#include <StravoHost/HostControl.h>

#include "Internal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// ---------------------------------------------------------------------------------------------
// Configuration and test overrides

struct SettingsState {
    std::mutex mutex;
    std::string databaseFile;
    std::string nodeLocalStore;  // INI file (Linux) or HKEY_LOCAL_MACHINE subkey (Windows)
    bool nodeLocalStoreIsDefault = false;
    std::set<std::string> nodeLocalKeys;
    boost::optional<std::string> databaseFailure;
    boost::optional<std::string> nodeLocalFailure;

    SettingsState() { applyEnvironment(); }

    void applyEnvironment() {
        const StravoHostInternal::Environment& env = StravoHostInternal::environment();
        databaseFile = env.settingsDb;
        nodeLocalStore = env.nodeLocalStore;
        nodeLocalStoreIsDefault = env.nodeLocalStoreIsDefault;
        nodeLocalKeys = env.nodeLocalKeys;
        databaseFailure.reset();
        nodeLocalFailure.reset();
    }
};

// Never destroyed: a plug-in may read settings from its own static destructors at exit.
SettingsState& settings() {
    static SettingsState* instance = new SettingsState();
    return *instance;
}

// Stores the control surface created; removed when the process exits.
class TemporaryFiles {
  public:
    ~TemporaryFiles() {
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

// An empty file for a store the control surface has to create.
std::string makeTemporaryFile(const char* kind) {
#if defined(_WIN32)
    char directory[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    if (GetTempPathA(sizeof directory, directory) == 0 || GetTempFileNameA(directory, kind, 0, name) == 0) {
        throw SettingsError(std::string("cannot create a temporary ") + kind + " file: error " +
                            std::to_string(GetLastError()));
    }
    return name;
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
    return name.data();
#endif
}

// The value as T, or a SettingsError naming the key.
template <typename T>
T checkedValue(const std::string& key, long long value) {
    if (value < static_cast<long long>(std::numeric_limits<T>::min()) ||
        value > static_cast<long long>(std::numeric_limits<T>::max())) {
        throw SettingsError("setting '" + key + "' value " + std::to_string(value) + " is out of range");
    }
    return static_cast<T>(value);
}

// ---------------------------------------------------------------------------------------------
// Database store

class Database {
  public:
    Database(const std::string& path, int flags) {
        const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
        if (rc != SQLITE_OK) {
            // A failed open still allocates a connection (holding the message); no destructor
            // runs for a throwing constructor, so it is closed here.
            const SettingsError error(db_ ? sqlite3_errmsg(db_) : "out of memory");
            sqlite3_close(db_);
            throw error;
        }
        sqlite3_busy_timeout(db_, 2000);
    }
    ~Database() { sqlite3_close(db_); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void execute(const char* sql) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail();
    }

    sqlite3_stmt* prepare(const char* sql) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) fail();
        return statement;
    }

    [[noreturn]] void fail() { throw SettingsError(db_ ? sqlite3_errmsg(db_) : "out of memory"); }

  private:
    sqlite3* db_ = nullptr;
};

class Statement {
  public:
    Statement(Database& db, const char* sql) : db_(db), statement_(db.prepare(sql)) {}
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const std::string& text) {
        if (sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) !=
            SQLITE_OK)
            db_.fail();
    }
    void bind(int index, long long value) {
        if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) db_.fail();
    }
    // true: a row is there.
    bool step() {
        const int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        db_.fail();
    }
    sqlite3_stmt* get() { return statement_; }

  private:
    Database& db_;
    sqlite3_stmt* statement_;
};

const char kCreateTable[] = "CREATE TABLE IF NOT EXISTS global_settings(key TEXT PRIMARY KEY, value INTEGER)";

boost::optional<long long> readDatabase(const std::string& key) {
    std::string path;
    {
        SettingsState& s = settings();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.databaseFailure) throw SettingsError(*s.databaseFailure);
        path = s.databaseFile;
    }
    if (path.empty()) return boost::none;
    Database db(path, SQLITE_OPEN_READONLY);
    Statement query(db, "SELECT value FROM global_settings WHERE key = ?1");
    query.bind(1, key);
    if (!query.step()) return boost::none;
    if (sqlite3_column_type(query.get(), 0) != SQLITE_INTEGER) {
        throw SettingsError("setting '" + key + "' is not an integer");
    }
    return static_cast<long long>(sqlite3_column_int64(query.get(), 0));
}

std::string writableDatabase() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.databaseFile.empty()) {
        s.databaseFile = makeTemporaryFile("settings");
        temporaryFiles().add(s.databaseFile);
    }
    return s.databaseFile;
}

class DatabaseHelper : public CGlobalSettingHelper {
  public:
    void getGlobalSetting(const std::string& key, uint32_t& value, const uint32_t& defaultValue) override {
        const boost::optional<long long> found = readDatabase(key);
        value = found ? checkedValue<uint32_t>(key, *found) : defaultValue;
    }
    void getGlobalSetting(const std::string& key, int32_t& value, const int32_t& defaultValue) override {
        const boost::optional<long long> found = readDatabase(key);
        value = found ? checkedValue<int32_t>(key, *found) : defaultValue;
    }
};

// ---------------------------------------------------------------------------------------------
// Node-local store

#if defined(_WIN32)

std::string registryError(const char* what, const std::string& registryKey, LONG rc) {
    return std::string("registry ") + what + " HKEY_LOCAL_MACHINE\\" + registryKey + ": error " + std::to_string(rc);
}

// The raw REG_DWORD, or none when the key or value is missing.
boost::optional<DWORD> readNodeLocal(const std::string& key) {
    std::string registryKey;
    {
        SettingsState& s = settings();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.nodeLocalFailure) throw SettingsError(*s.nodeLocalFailure);
        registryKey = s.nodeLocalStore;
    }
    if (registryKey.empty()) return boost::none;
    HKEY handle = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, registryKey.c_str(), 0, KEY_QUERY_VALUE, &handle);
    if (rc == ERROR_FILE_NOT_FOUND) return boost::none;
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("open", registryKey, rc));
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    rc = RegQueryValueExA(handle, key.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(handle);
    if (rc == ERROR_FILE_NOT_FOUND) return boost::none;
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && type != REG_DWORD)) {
        throw SettingsError("setting '" + key + "' is not a REG_DWORD value");
    }
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("read", registryKey, rc));
    return data;
}

// The key the control surface writes to. Unless a key was named (by the environment or the control
// surface), the first write moves the node-local side to a key of this process's own, removed at
// exit, so that tests running side by side in one Wine prefix never share values.
std::string writableRegistryKey() {
    static std::atomic<unsigned> serial{0};
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.nodeLocalStore.empty() || s.nodeLocalStoreIsDefault) {
        s.nodeLocalStore = "SOFTWARE\\Stravo\\GlobalSettings-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(++serial);
        s.nodeLocalStoreIsDefault = false;
        temporaryFiles().addRegistryKey(s.nodeLocalStore);
    }
    return s.nodeLocalStore;
}

class NodeLocalHelper : public CGlobalSettingHelper {
  public:
    void getGlobalSetting(const std::string& key, uint32_t& value, const uint32_t& defaultValue) override {
        const boost::optional<DWORD> found = readNodeLocal(key);
        value = found ? static_cast<uint32_t>(*found) : defaultValue;
    }
    void getGlobalSetting(const std::string& key, int32_t& value, const int32_t& defaultValue) override {
        const boost::optional<DWORD> found = readNodeLocal(key);
        value = found ? static_cast<int32_t>(*found) : defaultValue;
    }
};

#else

struct IniLine {
    std::string text;
    std::string key;  // lower case; empty for comments, sections and blank lines
    std::string value;
};

std::vector<IniLine> parseIni(std::istream& in) {
    std::vector<IniLine> lines;
    std::string text;
    while (std::getline(in, text)) {
        IniLine line{text, std::string(), std::string()};
        std::string content = text.substr(0, text.find_first_of("#;"));
        const std::string::size_type equals = content.find('=');
        if (equals != std::string::npos && boost::algorithm::trim_copy(content).front() != '[') {
            line.key = boost::algorithm::to_lower_copy(boost::algorithm::trim_copy(content.substr(0, equals)));
            line.value = boost::algorithm::trim_copy(content.substr(equals + 1));
        }
        lines.push_back(line);
    }
    return lines;
}

// Decimal or 0x hex, optionally negative; anything else is refused.
long long parseIniValue(const std::string& key, const std::string& text) {
    std::string digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    int base = 10;
    if (boost::algorithm::istarts_with(digits, "0x")) {
        base = 16;
        digits.erase(0, 2);
    }
    if (digits.empty() ||
        digits.find_first_not_of(base == 16 ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
        throw SettingsError("setting '" + key + "' value '" + text + "' is not an integer");
    }
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE || magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
        throw SettingsError("setting '" + key + "' value '" + text + "' is out of range");
    }
    return negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
}

boost::optional<long long> readNodeLocal(const std::string& key) {
    std::string path;
    {
        SettingsState& s = settings();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.nodeLocalFailure) throw SettingsError(*s.nodeLocalFailure);
        path = s.nodeLocalStore;
    }
    if (path.empty()) return boost::none;
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT) return boost::none;
        throw SettingsError("cannot read " + path + ": " + std::strerror(errno));
    }
    const std::string wanted = boost::algorithm::to_lower_copy(key);
    boost::optional<std::string> value;
    for (const IniLine& line : parseIni(in)) {
        if (!line.key.empty() && line.key == wanted) value = line.value;  // the last one counts
    }
    if (!value) return boost::none;
    return parseIniValue(key, *value);
}

class NodeLocalHelper : public CGlobalSettingHelper {
  public:
    void getGlobalSetting(const std::string& key, uint32_t& value, const uint32_t& defaultValue) override {
        const boost::optional<long long> found = readNodeLocal(key);
        value = found ? checkedValue<uint32_t>(key, *found) : defaultValue;
    }
    void getGlobalSetting(const std::string& key, int32_t& value, const int32_t& defaultValue) override {
        const boost::optional<long long> found = readNodeLocal(key);
        value = found ? checkedValue<int32_t>(key, *found) : defaultValue;
    }
};

// Rewrites the INI file with the key's lines dropped and, when given, the new value appended.
void rewriteIni(const std::string& key, const boost::optional<long long>& value) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.nodeLocalStore.empty()) {
        if (!value) return;
        s.nodeLocalStore = makeTemporaryFile("nodelocal");
        temporaryFiles().add(s.nodeLocalStore);
    }
    std::vector<IniLine> lines;
    {
        std::ifstream in(s.nodeLocalStore);
        if (in) lines = parseIni(in);
    }
    const std::string lowered = boost::algorithm::to_lower_copy(key);
    std::ostringstream out;
    for (const IniLine& line : lines) {
        if (line.key != lowered) out << line.text << '\n';
    }
    if (value) out << key << " = " << *value << '\n';
    const std::string staging = s.nodeLocalStore + ".new";
    {
        std::ofstream file(staging, std::ios::trunc);
        file << out.str();
        if (!file.flush()) throw SettingsError("cannot write " + staging + ": " + std::strerror(errno));
    }
    if (std::rename(staging.c_str(), s.nodeLocalStore.c_str()) != 0) {
        throw SettingsError("cannot replace " + s.nodeLocalStore + ": " + std::strerror(errno));
    }
}

#endif

// ---------------------------------------------------------------------------------------------
// Singletons

// The singletons outlive static destruction, like the server's own: a plug-in's static
// destructors may still reach them at exit.
std::mutex& singletonMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}
std::unique_ptr<GlobalConfig>& globalConfigSlot() {
    static std::unique_ptr<GlobalConfig>* slot = new std::unique_ptr<GlobalConfig>();
    return *slot;
}
std::unique_ptr<PerformanceCountersManager>& countersSlot() {
    static std::unique_ptr<PerformanceCountersManager>* slot = new std::unique_ptr<PerformanceCountersManager>();
    return *slot;
}

}  // namespace

// -------------------------------------------------------------------------------------------------

SettingsError::SettingsError(const std::string& message) : std::runtime_error(message) {}
SettingsError::SettingsError(const SettingsError& other) = default;
SettingsError& SettingsError::operator=(const SettingsError& other) = default;
SettingsError::~SettingsError() = default;

CGlobalSettingHelper::~CGlobalSettingHelper() = default;

std::unique_ptr<CGlobalSettingHelper> CRegFactoryRetriever::create() {
    return std::unique_ptr<CGlobalSettingHelper>(new NodeLocalHelper());
}

std::unique_ptr<CGlobalSettingHelper> CDBFactoryRetriever::create() {
    return std::unique_ptr<CGlobalSettingHelper>(new DatabaseHelper());
}

GlobalConfig::GlobalConfig() = default;
GlobalConfig::~GlobalConfig() = default;

bool GlobalConfig::isNodeLocalConfig(std::string key) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.nodeLocalKeys.count(key) != 0;
}

PerformanceCountersManager::PerformanceCountersManager() {
    for (std::atomic<uint64_t>& counter : counters_) counter.store(0);
}
PerformanceCountersManager::~PerformanceCountersManager() = default;

void PerformanceCountersManager::incrementCounter(PerfCounters::CounterType type) {
    if (type < 0 || type >= PerfCounters::CounterTypeCount) return;
    counters_[type].fetch_add(1, std::memory_order_relaxed);
}

uint64_t PerformanceCountersManager::counter(PerfCounters::CounterType type) const {
    if (type < 0 || type >= PerfCounters::CounterTypeCount) return 0;
    return counters_[type].load(std::memory_order_relaxed);
}

namespace StaticSingleton {

template <>
GlobalConfig& CStaticSingleton<GlobalConfig>::instance() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    if (!globalConfigSlot()) globalConfigSlot().reset(new GlobalConfig());
    return *globalConfigSlot();
}

template <>
bool CStaticSingleton<GlobalConfig>::instanceExists() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    return globalConfigSlot() != nullptr;
}

template <>
PerformanceCountersManager& CStaticSingleton<PerformanceCountersManager>::instance() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    if (!countersSlot()) countersSlot().reset(new PerformanceCountersManager());
    return *countersSlot();
}

template <>
bool CStaticSingleton<PerformanceCountersManager>::instanceExists() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    return countersSlot() != nullptr;
}

}  // namespace StaticSingleton

namespace StravoHostInternal {

void resetSettings() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.applyEnvironment();
}

}  // namespace StravoHostInternal

// -------------------------------------------------------------------------------------------------

namespace StravoHostControl {

void setDatabaseSetting(const std::string& key, int64_t value) {
    Database db(writableDatabase(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.execute(kCreateTable);
    Statement insert(db, "INSERT OR REPLACE INTO global_settings(key, value) VALUES(?1, ?2)");
    insert.bind(1, key);
    insert.bind(2, static_cast<long long>(value));
    insert.step();
}

void clearDatabaseSetting(const std::string& key) {
    const std::string path = databaseFile();
    if (path.empty()) return;
    Database db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.execute(kCreateTable);
    Statement remove(db, "DELETE FROM global_settings WHERE key = ?1");
    remove.bind(1, key);
    remove.step();
}

#if defined(_WIN32)

void setNodeLocalSetting(const std::string& key, int64_t value) {
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<uint32_t>::max()) {
        throw SettingsError("setting '" + key + "' value " + std::to_string(value) + " does not fit a REG_DWORD");
    }
    const std::string registryKey = writableRegistryKey();
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, registryKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                              nullptr);
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("create", registryKey, rc));
    const DWORD data = static_cast<DWORD>(value);
    rc = RegSetValueExA(handle, key.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("write", registryKey, rc));
}

void clearNodeLocalSetting(const std::string& key) {
    const std::string registryKey = nodeLocalStore();
    if (registryKey.empty()) return;
    HKEY handle = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, registryKey.c_str(), 0, KEY_SET_VALUE, &handle);
    if (rc == ERROR_FILE_NOT_FOUND) return;
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("open", registryKey, rc));
    rc = RegDeleteValueA(handle, key.c_str());
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        throw SettingsError(registryError("delete", registryKey, rc));
    }
}

static void clearNodeLocalStore() {
    const std::string registryKey = nodeLocalStore();
    if (registryKey.empty()) return;
    const LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, registryKey.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        throw SettingsError(registryError("delete", registryKey, rc));
    }
}

#else

void setNodeLocalSetting(const std::string& key, int64_t value) { rewriteIni(key, static_cast<long long>(value)); }

void clearNodeLocalSetting(const std::string& key) { rewriteIni(key, boost::none); }

static void clearNodeLocalStore() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.nodeLocalStore.empty()) return;
    std::ofstream file(s.nodeLocalStore, std::ios::trunc);
    if (!file) throw SettingsError("cannot write " + s.nodeLocalStore + ": " + std::strerror(errno));
}

#endif

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

void clearAllSettings() {
    const std::string path = databaseFile();
    if (!path.empty()) {
        Database db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.execute(kCreateTable);
        db.execute("DELETE FROM global_settings");
    }
    clearNodeLocalStore();
}

void setDatabaseFile(const std::string& path) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.databaseFile = path;
}

std::string databaseFile() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.databaseFile;
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

PerformanceCountersManager& createPerformanceCounters() {
    return StaticSingleton::CStaticSingleton<PerformanceCountersManager>::instance();
}

void resetPerformanceCounters() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    countersSlot().reset();
}

uint64_t performanceCounter(PerfCounters::CounterType type) {
    std::lock_guard<std::mutex> lock(singletonMutex());
    return countersSlot() ? countersSlot()->counter(type) : 0;
}

}  // namespace StravoHostControl
