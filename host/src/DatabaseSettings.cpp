// The database side of the settings: an SQLite file with the table
// global_settings(key TEXT PRIMARY KEY, value INTEGER).
//
// Reads share one read-only connection with its prepared query, opened at the first read and kept
// until the side is pointed at a file again, at none, or a read fails; a mutex serialises the readers. The
// control surface writes through connections of its own, which the read connection sees at its
// next read as any SQLite reader does.
#include <memory>

#include <sqlite3.h>

#include <StravoHost/HostControl.h>

#include "SettingsInternal.h"

namespace StravoHostInternal {

namespace {

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
    // Ready for the next binding and step.
    void reset() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    sqlite3_stmt* get() { return statement_; }

  private:
    Database& db_;
    sqlite3_stmt* statement_;
};

const char kCreateTable[] = "CREATE TABLE IF NOT EXISTS global_settings(key TEXT PRIMARY KEY, value INTEGER)";

// The one read connection and its query.
class ReadConnection {
  public:
    boost::optional<long long> read(const std::string& path, unsigned generation, const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (path.empty()) {
            close();
            return boost::none;
        }
        try {
            if (!query_ || path != path_ || generation != generation_) {
                close();
                database_.reset(new Database(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX));
                query_.reset(new Statement(*database_, "SELECT value FROM global_settings WHERE key = ?1"));
                path_ = path;
                generation_ = generation;
            }
            query_->reset();
            query_->bind(1, key);
            if (!query_->step()) return boost::none;
            sqlite3_stmt* row = query_->get();
            if (sqlite3_column_type(row, 0) != SQLITE_INTEGER) {
                throw SettingsError("setting '" + key + "' is not an integer");
            }
            const long long value = sqlite3_column_int64(row, 0);
            query_->reset();  // ends the read transaction: writers are not kept waiting
            return value;
        } catch (...) {
            close();  // a store that failed is opened anew by the next read
            throw;
        }
    }

    void closeNow() {
        std::lock_guard<std::mutex> lock(mutex_);
        close();
    }

  private:
    void close() {
        query_.reset();
        database_.reset();
    }

    std::mutex mutex_;
    std::string path_;
    unsigned generation_ = 0;
    std::unique_ptr<Database> database_;
    std::unique_ptr<Statement> query_;  // destroyed before database_
};

// Never destroyed: a plug-in may read settings from its own static destructors at exit.
ReadConnection& readConnection() {
    static ReadConnection* connection = new ReadConnection();
    return *connection;
}

boost::optional<long long> readDatabase(const std::string& key) {
    unsigned generation = 0;
    const std::string path = databaseFileForRead(&generation);
    return readConnection().read(path, generation, key);
}

std::string writableDatabase() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.databaseFile.empty()) {
        s.databaseFile = makeTemporaryFile("settings");
        ++s.databaseGeneration;
    }
    return s.databaseFile;
}

}  // namespace

void closeDatabaseReads() { readConnection().closeNow(); }

void clearDatabaseStore() {
    const std::string path = StravoHostControl::databaseFile();
    if (path.empty()) return;
    Database db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.execute(kCreateTable);
    db.execute("DELETE FROM global_settings");
}

}  // namespace StravoHostInternal

std::unique_ptr<CGlobalSettingHelper> CDBFactoryRetriever::create() {
    return std::unique_ptr<CGlobalSettingHelper>(
        new StravoHostInternal::RangeCheckedHelper<&StravoHostInternal::readDatabase>());
}

namespace StravoHostControl {

void setDatabaseSetting(const std::string& key, int64_t value) {
    using namespace StravoHostInternal;
    Database db(writableDatabase(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.execute(kCreateTable);
    Statement insert(db, "INSERT OR REPLACE INTO global_settings(key, value) VALUES(?1, ?2)");
    insert.bind(1, key);
    insert.bind(2, static_cast<long long>(value));
    insert.step();
}

void clearDatabaseSetting(const std::string& key) {
    using namespace StravoHostInternal;
    const std::string path = databaseFile();
    if (path.empty()) return;
    Database db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.execute(kCreateTable);
    Statement remove(db, "DELETE FROM global_settings WHERE key = ?1");
    remove.bind(1, key);
    remove.step();
}

}  // namespace StravoHostControl
