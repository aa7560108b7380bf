// The database side of the settings: an SQLite file with the table
// global_settings(key TEXT PRIMARY KEY, value INTEGER).
//
// Reads share one read-only connection with its prepared query, opened at the first read and kept
// until the side is pointed at a file again, at none, or a read fails for another reason than a
// lock; a mutex serialises the readers. The control surface writes through connections of its own,
// which the read connection sees at its next read as any SQLite reader does.
//
// Only a regular file is opened (StoreFile.h): SQLite's own open would wait on a FIFO for ever.
// A read waits for another connection's lock at most busyTimeoutMs; one that has waited that long
// in vain marks the database busy for busyPause, and while the mark lasts reads do not wait at all:
// one in probeInterval tries the database, and takes the value if the lock has gone (which ends the
// mark); the others fail at once with SQLite's "database is locked". So a handler build, whose
// reads come one after the other, waits out one busy timeout in all, whichever threads build at the
// same time, and not one per read.
#include <chrono>
#include <memory>

#include <sqlite3.h>

#include <StravoHost/HostControl.h>

#include "SettingsInternal.h"
#include "StoreFile.h"

namespace StravoHostInternal {

namespace {

// How long a read or a write waits for another connection's lock; below 2 s, so that the first
// call of an operation kind, which waits it out at most once, answers within 2 s.
const int busyTimeoutMs = 1500;
// How long a database found locked is read without waiting.
const std::chrono::seconds busyPause(10);
// While it is, how often a read tries whether the lock has gone; the reads in between fail at once.
const std::chrono::milliseconds probeInterval(100);

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
        sqlite3_busy_timeout(db_, busyTimeoutMs);
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

    // Whether a lock is waited for (up to busyTimeoutMs) or not at all.
    void waitForLocks(bool wait) { sqlite3_busy_timeout(db_, wait ? busyTimeoutMs : 0); }

    [[noreturn]] void fail() {
        busy_ = db_ && (sqlite3_errcode(db_) & 0xFF) == SQLITE_BUSY;
        throw SettingsError(db_ ? sqlite3_errmsg(db_) : "out of memory");
    }
    // Whether the last failure was another connection's lock; forgets it.
    bool takeBusy() {
        const bool busy = busy_;
        busy_ = false;
        return busy;
    }

  private:
    sqlite3* db_ = nullptr;
    bool busy_ = false;
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

// The SQLite type of a stored value that is not an integer, for the error.
const char* typeName(int type) {
    switch (type) {
        case SQLITE_FLOAT:
            return "a real number";
        case SQLITE_TEXT:
            return "text";
        case SQLITE_BLOB:
            return "a blob";
        case SQLITE_NULL:
            return "NULL";
        default:
            return "not an integer";
    }
}

// The one read connection and its query.
class ReadConnection {
  public:
    boost::optional<long long> read(const std::string& path, unsigned generation, const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (path.empty()) {
            close();
            return boost::none;
        }
        if (path != path_ || generation != generation_) {
            close();
            busyUntil_ = Clock::time_point();
        }
        const Clock::time_point now = Clock::now();
        const bool marked = now < busyUntil_;
        // A failed try at a lock costs little on Linux, but on Windows SQLite sleeps between its
        // tries (up to a timer tick each): while marked, one read in probeInterval tries.
        if (marked && now - lastTry_ < probeInterval) throw SettingsError("database is locked");
        try {
            if (!database_) {
                if (!isRegularStoreFile(path)) throw SettingsError("unable to open database file");
                database_.reset(new Database(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX));
                path_ = path;
                generation_ = generation;
            }
            database_->waitForLocks(!marked);
            if (!query_) query_.reset(new Statement(*database_, "SELECT value FROM global_settings WHERE key = ?1"));
            query_->reset();
            query_->bind(1, key);
            const bool found = query_->step();
            busyUntil_ = Clock::time_point();  // the lock has gone: reads wait for the next one again
            if (!found) return boost::none;
            sqlite3_stmt* row = query_->get();
            const int type = sqlite3_column_type(row, 0);
            if (type != SQLITE_INTEGER) {
                query_->reset();
                throw SettingsError("setting '" + key + "' is " + typeName(type) + ", not an integer");
            }
            const long long value = sqlite3_column_int64(row, 0);
            query_->reset();  // ends the read transaction: writers are not kept waiting
            return value;
        } catch (...) {
            if (database_ && database_->takeBusy()) {
                // Locked by another connection: the connection stays; the mark spares the next reads
                // the wait (once it has run out, the next read waits in full and sets it again).
                if (query_) query_->reset();
                lastTry_ = Clock::now();
                if (!marked) busyUntil_ = lastTry_ + busyPause;
            } else {
                close();  // a store that failed is opened anew by the next read
            }
            throw;
        }
    }

    void closeNow() {
        std::lock_guard<std::mutex> lock(mutex_);
        close();
        busyUntil_ = Clock::time_point();
    }

  private:
    using Clock = std::chrono::steady_clock;

    void close() {
        query_.reset();
        database_.reset();
    }

    std::mutex mutex_;
    std::string path_;
    unsigned generation_ = 0;
    Clock::time_point busyUntil_;  // reads until then do not wait for locks
    Clock::time_point lastTry_;    // the end of the last read that found the database locked
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
    return StravoHostInternal::withOverrides(std::unique_ptr<CGlobalSettingHelper>(
        new StravoHostInternal::RangeCheckedHelper<&StravoHostInternal::readDatabase>()));
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
