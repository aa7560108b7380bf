// Settings stores and values that a node may hold by accident or by malice, and what the retry
// rules make of them: which answer (defaults, the stored values, bounded values, or the node-local
// reader's own error), which trace lines, and within what time. Each case runs under a watchdog
// (Watchdog.h): a store that would keep a reader waiting fails its case instead of hanging the test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <boost/shared_ptr.hpp>

#include <GridApi/GridFileServices.h>
#include <GridApi/RetryRules.h>
#include <GridApi/UncFileOperationRetryHandler.h>
#include <StravoHost/Settings.h>

#include "HeldLock.h"
#include "HostFixture.h"
#include "Watchdog.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using GridApi::UncFileOperationRetryHandler;
using StravoStorageApi::FileOperationRetry;

// What the first call of a kind may cost at most, whatever the stores hold: a hang bound, not a speed
// goal. Far above the 1.5 s busy wait a locked database costs once (a loaded machine stretches it),
// far below the minute that one wait per read (42 reads) would cost.
const gridtest::Seconds firstCallLimit(10.0);

const std::int64_t int32Max = std::numeric_limits<std::int32_t>::max();
const std::int64_t uint32Max = std::numeric_limits<std::uint32_t>::max();
const std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

std::string traceLine(const std::string& text) { return "GRIDAPI-T-1111 " + text; }

std::string replaced(std::string text, const std::string& name, const std::string& value) {
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
        text.replace(at, name.size(), value);
    }
    return text;
}

// Bytes that are the same on every run and platform.
std::string randomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

void writeFile(const std::string& path, const std::string& content, std::ios::openmode mode = std::ios::trunc) {
    std::ofstream out(path, std::ios::binary | std::ios::out | mode);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void execute(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql, nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// Every settings key of a handler's rules, with the jitter key last.
std::vector<std::string> settingsKeys() {
    std::vector<std::string> keys;
    const UncFileOperationRetryHandler handler("DeleteFile");
    for (const auto& entry : handler.rules) {
        keys.push_back(entry.second->retriesKey);
        keys.push_back(entry.second->waitSecondsKey);
    }
    keys.push_back("FileRetryWaitError");
    return keys;
}

// A rule's count, wait and jitter, as "<count>/<wait>/<jitter>".
std::string ruleAnswer(const FileOperationRetry& rule) {
    return std::to_string(rule.numRetries) + "/" + std::to_string(rule.waitSeconds) + "/" +
           std::to_string(rule.waitJitterSeconds);
}

// Each rule's answer, as "<code>: <count>/<wait>/<jitter>".
std::vector<std::string> policy(const StravoStorageApi::FileOperationRetryHandler& handler) {
    std::vector<std::string> result;
    for (const auto& entry : handler.rules) {
        result.push_back(std::to_string(entry.first) + ": " + ruleAnswer(*entry.second));
    }
    return result;
}

enum class Side { database, nodeLocal };

enum class Store {
    fifo,
    directory,
    zeroDevice,  // a symbolic link to /dev/zero
    missing,
    randomBytes,
    sqliteHeaderRandomPages,
    noTable,
    locked,     // another process holds an exclusive transaction (node-local: a whole-file lock)
    oversized,  // beyond the node-local file's 1 MiB
    valid,
};

class HostileSettingsTest : public gridtest::HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        // Built before any store is named: the defaults, and the keys.
        defaults_ = policy(UncFileOperationRetryHandler("DeleteFile"));
        keys_ = settingsKeys();
        directory_ = fs::temp_directory_path() / ("grid-hostile-" + std::to_string(gridtest::processId()));
        fs::remove_all(directory_);
        fs::create_directories(directory_);
        quietLog();
    }
    void TearDown() override {
        HostTest::TearDown();
        // A read with no database named lets the read connection go: Windows removes no open file.
        std::uint32_t none = 0;
        CGlobalSettingHelperAdapter<CDBFactoryRetriever>()->getGlobalSetting("FileRetryWaitError", none, 0u);
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    std::string file(const std::string& name) const { return (directory_ / name).string(); }

    // The host as the fixture set it up, its log lines captured and written to a file of the test's
    // own rather than to the test's output (a case writes up to 168 of them).
    void resetHostForNextCase() {
        gridtest::resetHost();
        quietLog();
    }
    void quietLog() {
        StravoHostControl::setLogFile(file("log.txt"));
        StravoHostControl::clearCapturedLogLines();
    }

    // Every rule with count 1, wait 2 and jitter 1, as the valid stores hold them.
    std::vector<std::string> storedPolicy() const {
        std::vector<std::string> result = defaults_;
        for (std::string& entry : result) entry = entry.substr(0, entry.find(':')) + ": 1/2/1";
        return result;
    }

    // A database holding count 1 and wait 2 for every rule and jitter 1, through the control surface.
    void writeDatabase(const std::string& path) {
        StravoHostControl::setDatabaseFile(path);
        for (std::size_t i = 0; i + 1 < keys_.size(); ++i) {
            StravoHostControl::setDatabaseSetting(keys_[i], i % 2 == 0 ? 1 : 2);
        }
        StravoHostControl::setDatabaseSetting("FileRetryWaitError", 1);
        StravoHostControl::setDatabaseFile("");
    }

    // The same as an INI file.
    void writeIni(const std::string& path) {
        std::string text = "[GlobalSettings]\n";
        for (std::size_t i = 0; i + 1 < keys_.size(); ++i) text += keys_[i] + " = " + (i % 2 == 0 ? "1" : "2") + "\n";
        text += "FileRetryWaitError = 1\n";
        writeFile(path, text);
    }

    // Puts a store of the kind at the path; a lock, where the kind has one, is held while `lock` lives.
    void makeStore(Store store, Side side, const std::string& path, std::unique_ptr<gridtest::HeldLock>& lock) {
        switch (store) {
            case Store::fifo:
#if !defined(_WIN32)
                ASSERT_EQ(0, ::mkfifo(path.c_str(), 0600));
#endif
                break;
            case Store::directory:
                fs::create_directory(path);
                break;
            case Store::zeroDevice:
#if !defined(_WIN32)
                ASSERT_EQ(0, ::symlink("/dev/zero", path.c_str()));
#endif
                break;
            case Store::missing:
                break;
            case Store::randomBytes:
                writeFile(path, randomBytes(64 * 1024, 1));
                break;
            case Store::sqliteHeaderRandomPages: {
                // A database that held the values, its 100-byte header kept and every page after it random.
                writeDatabase(path);
                const std::string header = readFile(path).substr(0, 100);
                writeFile(path, header + randomBytes(16 * 4096 - 100, 2));
                break;
            }
            case Store::noTable:
                execute(path, "CREATE TABLE other_settings(key TEXT PRIMARY KEY, value INTEGER)");
                break;
            case Store::locked:
                writeStore(side, path);
                lock.reset(new gridtest::HeldLock(path, side == Side::database ? gridtest::LockKind::sqliteExclusive
                                                                               : gridtest::LockKind::wholeFile));
                ASSERT_TRUE(lock->held());
                break;
            case Store::oversized:
                writeIni(path);
                writeFile(path, "# padding\n" + std::string(1024 * 1024, '#') + "\n", std::ios::app);
                break;
            case Store::valid:
                writeStore(side, path);
                break;
        }
    }

    void writeStore(Side side, const std::string& path) {
        if (side == Side::database) {
            writeDatabase(path);
        } else {
            writeIni(path);
        }
    }

    void markAllNodeLocal() {
        for (const std::string& key : keys_) StravoHostControl::setNodeLocalKey(key, true);
    }

    std::vector<std::string> defaults_;
    std::vector<std::string> keys_;
    fs::path directory_;
};

enum class Answer {
    none,      // the kind is not tried on this side
    defaults,  // every rule's defaults; one trace line per read when there is a message
    stored,    // the values the store holds
    refused,   // the handler's construction throws the reader's error, the message
};

struct Outcome {
    Answer answer;
    const char* message;  // "{path}" stands for the store's path
};

// One row per store kind: what the database side and what the node-local side (Linux) answer.
struct StoreRow {
    const char* name;
    Store store;
    Outcome database;
    Outcome nodeLocal;
};

const char* const notAnIniLine = "{path} line 2: '=' character not found in line";

const StoreRow storeRows[] = {
#if !defined(_WIN32)
    {"FIFO",
     Store::fifo,
     {Answer::defaults, "cannot read {path}: not a regular file (a FIFO)"},
     {Answer::refused, "cannot read {path}: not a regular file (a FIFO)"}},
    {"link to /dev/zero",
     Store::zeroDevice,
     {Answer::defaults, "cannot read {path}: not a regular file (a character device)"},
     {Answer::refused, "cannot read {path}: not a regular file (a character device)"}},
#endif
    {"directory",
     Store::directory,
     {Answer::defaults, "cannot read {path}: not a regular file (a directory)"},
     {Answer::refused, "cannot read {path}: not a regular file (a directory)"}},
    {"missing", Store::missing, {Answer::defaults, "unable to open database file"}, {Answer::defaults, nullptr}},
    {"random bytes", Store::randomBytes, {Answer::defaults, "file is not a database"}, {Answer::refused, notAnIniLine}},
    {"SQLite header with random pages",
     Store::sqliteHeaderRandomPages,
     {Answer::defaults, "database disk image is malformed"},
     {Answer::refused, notAnIniLine}},
    {"SQLite database without the table",
     Store::noTable,
     {Answer::defaults, "no such table: global_settings"},
     {Answer::refused, "{path} line 1: '=' character not found in line"}},
    {"locked by another process", Store::locked, {Answer::defaults, "database is locked"}, {Answer::stored, nullptr}},
    {"beyond 1 MiB",
     Store::oversized,
     {Answer::none, nullptr},
     {Answer::refused, "cannot read {path}: larger than 1048576 bytes"}},
    {"valid", Store::valid, {Answer::stored, nullptr}, {Answer::stored, nullptr}},
};

// Every store kind on either side: the answer of a handler built on it, its trace lines, and at most
// the first call's limit of time (a locked database: one busy timeout, not one per read).
TEST_F(HostileSettingsTest, EveryStoreKindAnswersInTime) {
#if defined(_WIN32)
    const Side sides[] = {Side::database};  // the node-local side is the registry
#else
    const Side sides[] = {Side::database, Side::nodeLocal};
#endif
    for (const Side side : sides) {
        for (const StoreRow& row : storeRows) {
            const Outcome& outcome = side == Side::database ? row.database : row.nodeLocal;
            if (outcome.answer == Answer::none) continue;
            const std::string name = std::string(side == Side::database ? "database " : "node-local ") + row.name;
            SCOPED_TRACE(name);
            const std::string path = file(std::string(side == Side::database ? "settings" : "node") + "-" +
                                          std::to_string(static_cast<int>(row.store)));
            std::unique_ptr<gridtest::HeldLock> lock;
            makeStore(row.store, side, path, lock);
            if (side == Side::database) {
                StravoHostControl::setDatabaseFile(path);
            } else {
                markAllNodeLocal();
                StravoHostControl::setNodeLocalStore(path);
            }
            const std::string message = outcome.message ? replaced(outcome.message, "{path}", path) : "";
            gridtest::runWithin(
                firstCallLimit,
                [&] {
                    if (outcome.answer == Answer::refused) {
                        try {
                            UncFileOperationRetryHandler handler("DeleteFile");
                            ADD_FAILURE() << "the handler was built";
                        } catch (const SettingsError& error) {
                            EXPECT_EQ(message, error.what());
                        }
                        EXPECT_EQ(std::vector<std::string>{}, lines());
                        return;
                    }
                    const UncFileOperationRetryHandler handler("DeleteFile");
                    EXPECT_EQ(outcome.answer == Answer::stored ? storedPolicy() : defaults_, policy(handler));
                    const std::vector<std::string> expected(
                        outcome.message ? 42 : 0,
                        traceLine("Database error calling getGlobalSetting: " + message + "."));
                    EXPECT_EQ(expected, lines());
                },
                name);
            lock.reset();
            resetHostForNextCase();
        }
    }
}

// A value as it is put into the database.
struct DatabaseValue {
    enum Type { integer, real, text, blob, null } type;
    std::int64_t integerValue;
    double realValue;
    const char* textValue;
};
DatabaseValue integer(std::int64_t value) { return {DatabaseValue::integer, value, 0, nullptr}; }
DatabaseValue real(double value) { return {DatabaseValue::real, 0, value, nullptr}; }
DatabaseValue text(const char* value) { return {DatabaseValue::text, 0, 0, value}; }
DatabaseValue blob(const char* twoBytes) { return {DatabaseValue::blob, 0, 0, twoBytes}; }
DatabaseValue null() { return {DatabaseValue::null, 0, 0, nullptr}; }

// What the sharing-violation rule (no bounds) and the access-denied rule (count at most 5, wait at
// most 20) make of it, as "<count>/<wait>/<jitter>", and the trace lines.
struct ValueAnswer {
    const char* sharingViolation;
    const char* accessDenied;
    const char* refusal;               // each read refused with this text, "{key}" the key read
    std::vector<std::string> bounded;  // otherwise these lines of bounding, in order
};
// Every read refused: the defaults, one line per read.
ValueAnswer refused(const char* refusal) { return {"16/5/3", "5/10/3", refusal, {}}; }
ValueAnswer taken(const char* sharingViolation, const char* accessDenied, std::vector<std::string> bounded) {
    return {sharingViolation, accessDenied, nullptr, std::move(bounded)};
}

const std::vector<std::string> boundedLines = {
    "limiting the 'Sharing Violation' random extra wait to 3600 seconds.",
    "limiting the 'Access Denied' number of retries to 5.",
    "limiting the 'Access Denied' wait time to 20 seconds.",
    "limiting the 'Access Denied' random extra wait to 20 seconds.",
};

struct ValueRow {
    const char* name;
    DatabaseValue value;
    ValueAnswer answer;
};

const ValueRow valueRows[] = {
    {"negative", integer(-1), refused("setting '{key}' value -1 is out of range")},
    {"2^31 - 1", integer(int32Max), taken("2147483647/2147483647/3601", "5/20/21", boundedLines)},
    {"2^31", integer(int32Max + 1), taken("2147483648/2147483648/3601", "5/20/21", boundedLines)},
    {"2^32 - 1", integer(uint32Max), taken("4294967295/4294967295/3601", "5/20/21", boundedLines)},
    {"2^32", integer(uint32Max + 1), refused("setting '{key}' value 4294967296 is out of range")},
    {"2^63 - 1", integer(int64Max), refused("setting '{key}' value 9223372036854775807 is out of range")},
    {"text", text("ten"), refused("setting '{key}' is text, not an integer")},
    // The column's INTEGER affinity stores text that reads as an integer as that integer.
    {"text '12'", text("12"), taken("12/12/12", "5/12/12", {"limiting the 'Access Denied' number of retries to 5."})},
    // SQLite stores NaN as NULL.
    {"NaN", real(std::numeric_limits<double>::quiet_NaN()), refused("setting '{key}' is NULL, not an integer")},
    {"1.5", real(1.5), refused("setting '{key}' is a real number, not an integer")},
    // ... and a real number without a fraction as the integer.
    {"1.0", real(1.0), taken("1/1/1", "1/1/1", {})},
    {"blob", blob("\x01\x02"), refused("setting '{key}' is a blob, not an integer")},
    {"NULL", null(), refused("setting '{key}' is NULL, not an integer")},
    {"1e30", real(1e30), refused("setting '{key}' is a real number, not an integer")},
};

void storeValue(const std::string& path, const std::string& key, const DatabaseValue& value) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr));
    sqlite3_exec(db, "CREATE TABLE IF NOT EXISTS global_settings(key TEXT PRIMARY KEY, value INTEGER)", nullptr,
                 nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(SQLITE_OK,
              sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO global_settings VALUES(?1, ?2)", -1, &insert, nullptr));
    sqlite3_bind_text(insert, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    switch (value.type) {
        case DatabaseValue::integer:
            sqlite3_bind_int64(insert, 2, value.integerValue);
            break;
        case DatabaseValue::real:
            sqlite3_bind_double(insert, 2, value.realValue);
            break;
        case DatabaseValue::text:
            sqlite3_bind_text(insert, 2, value.textValue, -1, SQLITE_TRANSIENT);
            break;
        case DatabaseValue::blob:
            sqlite3_bind_blob(insert, 2, value.textValue, 2, SQLITE_TRANSIENT);
            break;
        case DatabaseValue::null:
            sqlite3_bind_null(insert, 2);
            break;
    }
    EXPECT_EQ(SQLITE_DONE, sqlite3_step(insert)) << sqlite3_errmsg(db);
    sqlite3_finalize(insert);
    sqlite3_close(db);
}

// Every kind of value the database may hold for a count, a wait and the jitter: an integer that fits
// is taken and bounded (the bounding traced), anything else leaves the default with a trace line.
TEST_F(HostileSettingsTest, EveryDatabaseValueIsTakenBoundedOrRefused) {
    const char* const keysInReadOrder[] = {"NumRetriesOnSharingViolation", "SharingViolationWaitSeconds",
                                           "FileRetryWaitError",           "NumRetriesOnAccessDenied",
                                           "AccessDeniedWaitSeconds",      "FileRetryWaitError"};
    for (const ValueRow& row : valueRows) {
        SCOPED_TRACE(row.name);
        StravoHostControl::clearCapturedLogLines();
        const std::string path = file(std::string("values-") + std::to_string(&row - valueRows) + ".db");
        for (const char* key : keysInReadOrder) storeValue(path, key, row.value);
        StravoHostControl::setDatabaseFile(path);
        std::vector<std::string> expected;
        if (row.answer.refusal) {
            for (const char* key : keysInReadOrder) {
                expected.push_back(traceLine(
                    "Database error calling getGlobalSetting: " + replaced(row.answer.refusal, "{key}", key) + "."));
            }
        }
        for (const std::string& line : row.answer.bounded) expected.push_back(traceLine(line));
        gridtest::runWithin(
            firstCallLimit,
            [&] {
                const StravoStorageApi::FileSharingViolationRetry sharing("DeleteFile");
                const StravoStorageApi::FileAccessDeniedRetry denied("DeleteFile");
                EXPECT_EQ(row.answer.sharingViolation, ruleAnswer(sharing));
                EXPECT_EQ(row.answer.accessDenied, ruleAnswer(denied));
                EXPECT_EQ(expected, lines());
            },
            row.name);
    }
}

#if !defined(_WIN32)
struct NodeLocalValueRow {
    const char* name;
    const char* text;
    const char* sharingViolation;  // "<count>/<wait>/<jitter>", or nullptr when the read throws
    const char* error;             // the reader's error, "{key}" standing for the first key read
};

// The node-local file's values: what fits is taken and bounded as from the database; anything else
// is the reader's error, which the rule's construction passes on.
TEST_F(HostileSettingsTest, EveryNodeLocalValueIsTakenBoundedOrTheReadersError) {
    const NodeLocalValueRow rows[] = {
        {"negative", "-1", nullptr, "setting '{key}' value -1 is out of range"},
        {"2^31 - 1", "2147483647", "2147483647/2147483647/3601", nullptr},
        {"2^31", "2147483648", "2147483648/2147483648/3601", nullptr},
        {"2^32 - 1", "0xFFFFFFFF", "4294967295/4294967295/3601", nullptr},
        {"2^63 - 1", "9223372036854775807", nullptr, "setting '{key}' value 9223372036854775807 is out of range"},
        {"beyond 2^63 - 1", "99999999999999999999", nullptr,
         "setting '{key}' value '99999999999999999999' is out of range"},
        {"text", "ten", nullptr, "setting '{key}' value 'ten' is not an integer"},
        {"NaN", "nan", nullptr, "setting '{key}' value 'nan' is not an integer"},
        {"1.5", "1.5", nullptr, "setting '{key}' value '1.5' is not an integer"},
        {"empty", "", nullptr, "setting '{key}' value '' is not an integer"},
        {"1e30", "1e30", nullptr, "setting '{key}' value '1e30' is not an integer"},
    };
    markAllNodeLocal();
    for (const NodeLocalValueRow& row : rows) {
        SCOPED_TRACE(row.name);
        StravoHostControl::clearCapturedLogLines();
        const std::string path = file(std::string("values-") + std::to_string(&row - rows) + ".ini");
        writeFile(path, std::string("NumRetriesOnSharingViolation = ") + row.text + "\nSharingViolationWaitSeconds = " +
                            row.text + "\nFileRetryWaitError = " + row.text + "\n");
        StravoHostControl::setNodeLocalStore(path);
        gridtest::runWithin(
            firstCallLimit,
            [&] {
                try {
                    const StravoStorageApi::FileSharingViolationRetry sharing("DeleteFile");
                    EXPECT_EQ(row.sharingViolation ? row.sharingViolation : "(the reader's error)",
                              ruleAnswer(sharing));
                    EXPECT_EQ(std::vector<std::string>{traceLine(
                                  "limiting the 'Sharing Violation' random extra wait to 3600 seconds.")},
                              lines());
                } catch (const SettingsError& error) {
                    EXPECT_EQ(replaced(row.error ? row.error : "(no error)", "{key}", "NumRetriesOnSharingViolation"),
                              error.what());
                }
            },
            row.name);
    }
}
#endif

struct WaitRow {
    const char* name;
    Side side;
    const char* key;
    std::int64_t value;
    const char* rule;  // "sharing" (no bounds) or "denied" (wait at most 20)
    std::int64_t least;
    std::int64_t most;
};

// One row per wait boundary: the seconds handed to the host's sleep are never negative and stay
// within the rule's wait and its bounded extra, and within what the sleep's int can hold.
TEST_F(HostileSettingsTest, TheSleepIsAskedForABoundedNonNegativeWait) {
    const WaitRow rows[] = {
        {"wait 2^31 - 1", Side::database, "SharingViolationWaitSeconds", int32Max, "sharing", int32Max, int32Max},
        {"wait 2^31", Side::database, "SharingViolationWaitSeconds", int32Max + 1, "sharing", int32Max, int32Max},
        {"wait 2^32 - 1", Side::database, "SharingViolationWaitSeconds", uint32Max, "sharing", int32Max, int32Max},
        {"wait 2^63 - 1 (refused: the default)", Side::database, "SharingViolationWaitSeconds", int64Max, "sharing", 5,
         7},
        {"wait -1 (refused: the default)", Side::database, "SharingViolationWaitSeconds", -1, "sharing", 5, 7},
        {"wait -2^31 (refused: the default)", Side::database, "SharingViolationWaitSeconds", -int32Max - 1, "sharing",
         5, 7},
        {"wait 2^32 - 1, node-local", Side::nodeLocal, "SharingViolationWaitSeconds", uint32Max, "sharing", int32Max,
         int32Max},
        {"bounded wait 2^32 - 1", Side::database, "AccessDeniedWaitSeconds", uint32Max, "denied", 20, 22},
        {"jitter 2^31", Side::database, "FileRetryWaitError", int32Max + 1, "sharing", 5, 5 + 3600},
        {"jitter 2^32 - 1", Side::database, "FileRetryWaitError", uint32Max, "sharing", 5, 5 + 3600},
        {"jitter 2^32 - 1, bounded wait", Side::database, "FileRetryWaitError", uint32Max, "denied", 10, 10 + 20},
        {"jitter -1 (refused: the default)", Side::database, "FileRetryWaitError", -1, "sharing", 5, 7},
    };
    for (const WaitRow& row : rows) {
        SCOPED_TRACE(row.name);
        resetHostForNextCase();
        StravoHostControl::clearAllSettings();
        if (row.side == Side::database) {
            StravoHostControl::setDatabaseSetting(row.key, row.value);
        } else {
            StravoHostControl::setNodeLocalKey(row.key, true);
            StravoHostControl::setNodeLocalSetting(row.key, row.value);
        }
        std::unique_ptr<FileOperationRetry> rule;
        if (std::string(row.rule) == "sharing") {
            rule.reset(new StravoStorageApi::FileSharingViolationRetry("DeleteFile"));
        } else {
            rule.reset(new StravoStorageApi::FileAccessDeniedRetry("DeleteFile"));
        }
        StravoStorageApi::RetryHandlerContext context;
        context.arguments.push_back("\\\\server\\share\\file");
        for (int attempt = 0; attempt < 5; ++attempt) EXPECT_TRUE(rule->waitForRetry(context));
        const std::vector<int> sleeps = StravoHostControl::recordedSleeps();
        ASSERT_EQ(5u, sleeps.size());
        for (int seconds : sleeps) {
            EXPECT_GE(seconds, 0);
            EXPECT_GE(seconds, row.least);
            EXPECT_LE(seconds, row.most);
        }
    }
}

// Builds on several threads at once meet a locked database together: the wait is the first
// reader's, and every build answers within the first call's limit.
TEST_F(HostileSettingsTest, ConcurrentBuildsOnALockedDatabaseWaitOnce) {
    const std::string path = file("locked-threads.db");
    writeDatabase(path);
    gridtest::HeldLock lock(path, gridtest::LockKind::sqliteExclusive);
    ASSERT_TRUE(lock.held());
    StravoHostControl::setDatabaseFile(path);
    gridtest::runWithin(
        firstCallLimit,
        [&] {
            const char* const kinds[] = {"DeleteFile", "CopyFile", "MoveFile", "RemoveDirectory"};
            std::vector<std::vector<std::string>> answers(4);
            std::vector<std::thread> builders;
            for (int i = 0; i < 4; ++i) {
                builders.emplace_back([&, i] { answers[i] = policy(UncFileOperationRetryHandler(kinds[i])); });
            }
            for (std::thread& builder : builders) builder.join();
            for (const auto& answer : answers) EXPECT_EQ(defaults_, answer);
            const std::vector<std::string> all = lines();
            EXPECT_EQ(4u * 42u, all.size());
            for (const std::string& line : all) {
                EXPECT_EQ(traceLine("Database error calling getGlobalSetting: database is locked."), line);
            }
        },
        "four builds at once");
}

}  // namespace
