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

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
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
    locked,  // another process holds an exclusive transaction (node-local: a whole-file lock)
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

    // A store holding count 1 and wait 2 for every rule and jitter 1, written through the control surface.
    void writeStore(Side side, const std::string& path) {
        const bool database = side == Side::database;
        const auto point = database ? &StravoHostControl::setDatabaseFile : &StravoHostControl::setNodeLocalStore;
        const auto set = database ? &StravoHostControl::setDatabaseSetting : &StravoHostControl::setNodeLocalSetting;
        point(path);
        for (std::size_t i = 0; i + 1 < keys_.size(); ++i) set(keys_[i], i % 2 == 0 ? 1 : 2);
        set("FileRetryWaitError", 1);
        point("");
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
                writeStore(Side::database, path);
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
            case Store::valid:
                writeStore(side, path);
                break;
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

// One row per kind of value a count, a wait and the jitter may hold, in the database and (Linux) in
// the node-local file: an integer that fits is taken and bounded (the bounding traced); anything else
// leaves the default with a trace line per read (database) or is the reader's error, which the rule's
// construction passes on (node-local).
struct ValueRow {
    const char* name;
    const char* sql;              // the value as SQL writes it into the database (nullptr: not tried there)
    const char* ini;              // the value as the node-local file holds it (nullptr: not tried there)
    const char* databaseRefusal;  // each database read refused with this text, "{key}" the key read
    const char* iniError;         // the node-local reader's error for the first key read
    // When taken: what the sharing-violation rule (no bounds) and the access-denied rule (count at most
    // 5, wait at most 20) make of it, as "<count>/<wait>/<jitter>", and the lines of bounding, in order.
    const char* sharingViolation;
    const char* accessDenied;
    std::vector<std::string> bounded;
};

const std::vector<std::string> boundedLines = {
    "limiting the 'Sharing Violation' random extra wait to 3600 seconds.",
    "limiting the 'Access Denied' number of retries to 5.",
    "limiting the 'Access Denied' wait time to 20 seconds.",
    "limiting the 'Access Denied' random extra wait to 20 seconds.",
};
const char* const notAnInteger = "setting '{key}' value '{ini}' is not an integer";

const ValueRow valueRows[] = {
    {"negative",
     "-1",
     "-1",
     "setting '{key}' value -1 is out of range",
     "setting '{key}' value -1 is out of range",
     nullptr,
     nullptr,
     {}},
    {"2^31 - 1", "2147483647", "2147483647", nullptr, nullptr, "2147483647/2147483647/3601", "5/20/21", boundedLines},
    {"2^31", "2147483648", "2147483648", nullptr, nullptr, "2147483648/2147483648/3601", "5/20/21", boundedLines},
    {"2^32 - 1", "4294967295", "0xFFFFFFFF", nullptr, nullptr, "4294967295/4294967295/3601", "5/20/21", boundedLines},
    {"2^32", "4294967296", nullptr, "setting '{key}' value 4294967296 is out of range", nullptr, nullptr, nullptr, {}},
    {"2^63 - 1",
     "9223372036854775807",
     "9223372036854775807",
     "setting '{key}' value 9223372036854775807 is out of range",
     "setting '{key}' value 9223372036854775807 is out of range",
     nullptr,
     nullptr,
     {}},
    {"beyond 2^63 - 1",
     nullptr,
     "99999999999999999999",
     nullptr,
     "setting '{key}' value '{ini}' is out of range",
     nullptr,
     nullptr,
     {}},
    {"text", "'ten'", "ten", "setting '{key}' is text, not an integer", notAnInteger, nullptr, nullptr, {}},
    // The column's INTEGER affinity stores text that reads as an integer as that integer.
    {"text '12'",
     "'12'",
     nullptr,
     nullptr,
     nullptr,
     "12/12/12",
     "5/12/12",
     {"limiting the 'Access Denied' number of retries to 5."}},
    {"NaN", nullptr, "nan", nullptr, notAnInteger, nullptr, nullptr, {}},
    {"1.5", "1.5", "1.5", "setting '{key}' is a real number, not an integer", notAnInteger, nullptr, nullptr, {}},
    // ... and a real number without a fraction as the integer.
    {"1.0", "1.0", nullptr, nullptr, nullptr, "1/1/1", "1/1/1", {}},
    {"blob", "x'0102'", nullptr, "setting '{key}' is a blob, not an integer", nullptr, nullptr, nullptr, {}},
    {"NULL", "NULL", nullptr, "setting '{key}' is NULL, not an integer", nullptr, nullptr, nullptr, {}},
    {"empty", nullptr, "", nullptr, notAnInteger, nullptr, nullptr, {}},
    {"1e30", "1e30", "1e30", "setting '{key}' is a real number, not an integer", notAnInteger, nullptr, nullptr, {}},
};

// The two rules' answers and lines, and the seconds their waits ask the host's sleep for: never
// negative, within the rule's wait and its bounded extra, and within what the sleep's int can hold.
void expectRules(const char* sharingViolation, const char* accessDenied, const std::vector<std::string>& expected) {
    StravoStorageApi::FileSharingViolationRetry sharing("DeleteFile");
    StravoStorageApi::FileAccessDeniedRetry denied("DeleteFile");
    EXPECT_EQ(sharingViolation, ruleAnswer(sharing));
    EXPECT_EQ(accessDenied, ruleAnswer(denied));
    EXPECT_EQ(expected, StravoHostControl::capturedLogLines());
    for (FileOperationRetry* rule :
         {static_cast<FileOperationRetry*>(&sharing), static_cast<FileOperationRetry*>(&denied)}) {
        const std::size_t before = StravoHostControl::recordedSleeps().size();
        for (int run = 0; run < 3; ++run) {
            StravoStorageApi::RetryHandlerContext context;  // each a first failure: a rule of count 1 waits too
            context.arguments.push_back("\\\\server\\share\\file");
            EXPECT_TRUE(rule->waitForRetry(context));
        }
        const std::vector<int> sleeps = StravoHostControl::recordedSleeps();
        ASSERT_EQ(before + 3, sleeps.size());
        const std::int64_t least = std::min<std::int64_t>(rule->waitSeconds, int32Max);
        const std::int64_t most =
            std::min<std::int64_t>(std::int64_t(rule->waitSeconds) + rule->waitJitterSeconds - 1, int32Max);
        for (std::size_t i = before; i < sleeps.size(); ++i) {
            EXPECT_GE(sleeps[i], 0);
            EXPECT_GE(sleeps[i], least) << rule->description;
            EXPECT_LE(sleeps[i], most) << rule->description;
        }
    }
}

TEST_F(HostileSettingsTest, EveryValueIsTakenBoundedOrRefused) {
    const char* const keysInReadOrder[] = {"NumRetriesOnSharingViolation", "SharingViolationWaitSeconds",
                                           "FileRetryWaitError",           "NumRetriesOnAccessDenied",
                                           "AccessDeniedWaitSeconds",      "FileRetryWaitError"};
    for (const ValueRow& row : valueRows) {
        const std::string index = std::to_string(&row - valueRows);
        const char* const sharing = row.sharingViolation ? row.sharingViolation : "16/5/3";
        const char* const denied = row.accessDenied ? row.accessDenied : "5/10/3";
        std::vector<std::string> bounded;
        for (const std::string& line : row.bounded) bounded.push_back(traceLine(line));
        if (row.sql) {
            SCOPED_TRACE(std::string("database ") + row.name);
            resetHostForNextCase();
            const std::string path = file("values-" + index + ".db");
            std::string sql = "CREATE TABLE global_settings(key TEXT PRIMARY KEY, value INTEGER);";
            for (const char* key : keysInReadOrder)
                sql += std::string("INSERT OR REPLACE INTO global_settings VALUES('") + key + "', " + row.sql + ");";
            execute(path, sql.c_str());
            StravoHostControl::setDatabaseFile(path);
            std::vector<std::string> expected;
            for (const char* key : keysInReadOrder) {
                if (row.databaseRefusal)
                    expected.push_back(traceLine("Database error calling getGlobalSetting: " +
                                                 replaced(row.databaseRefusal, "{key}", key) + "."));
            }
            expected.insert(expected.end(), bounded.begin(), bounded.end());
            gridtest::runWithin(
                firstCallLimit, [&] { expectRules(sharing, denied, expected); }, row.name);
        }
#if !defined(_WIN32)  // the node-local side of Windows is the registry
        if (row.ini) {
            SCOPED_TRACE(std::string("node-local ") + row.name);
            resetHostForNextCase();
            const std::string path = file("values-" + index + ".ini");
            std::string text;
            for (const char* key : keysInReadOrder) {
                if (text.find(key) != std::string::npos) continue;  // the jitter key is read twice
                StravoHostControl::setNodeLocalKey(key, true);
                text += std::string(key) + " = " + row.ini + "\n";
            }
            writeFile(path, text);
            StravoHostControl::setNodeLocalStore(path);
            gridtest::runWithin(
                firstCallLimit,
                [&] {
                    try {
                        expectRules(sharing, denied, bounded);
                        EXPECT_EQ(nullptr, row.iniError) << "the reader took the value";
                    } catch (const SettingsError& error) {
                        EXPECT_EQ(
                            replaced(replaced(row.iniError ? row.iniError : "(no error)", "{key}", keysInReadOrder[0]),
                                     "{ini}", row.ini),
                            error.what());
                    }
                },
                row.name);
        }
#endif
    }
}

// Builds on several threads at once meet a locked database together: the wait is the first
// reader's, and every build answers within the first call's limit.
TEST_F(HostileSettingsTest, ConcurrentBuildsOnALockedDatabaseWaitOnce) {
    const std::string path = file("locked-threads.db");
    writeStore(Side::database, path);
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
