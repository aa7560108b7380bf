// Settings stores and values that a node may hold by accident or by malice, and what the retry
// rules make of them: which answer (defaults, the stored values, bounded values, or the node-local
// reader's own error), which trace lines, which waits, and within what time. Each case runs under a
// watchdog (Watchdog.h): a store that would keep a reader waiting fails its case instead of hanging
// the test.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <GridApi/UncFileOperationRetryHandler.h>
#include <StravoHost/Settings.h>

#include "HeldLock.h"
#include "HostFixture.h"
#include "RuleContract.h"
#include "Watchdog.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using gridtest::RuleContract;
using StravoStorageApi::FileOperationRetry;

// What building a handler may cost at most, whatever the stores hold: a hang bound, not a speed goal.
// Far above the 1.5 s busy wait a locked database costs once (a loaded machine stretches it), far
// below the minute that one wait per read (42 reads) would cost.
const gridtest::Seconds firstCallLimit(10.0);

const std::int64_t none = -1;  // nothing taken: every rule keeps its defaults

enum class Side { database, nodeLocal };

enum class Store {
    values,  // the row's value for every key
    fifo,
    directory,
    missing,
    garbage,
    locked,  // the value 1 for every key, and another process holds an exclusive transaction (node-local:
             // a whole-file lock)
};

// One row per store kind and per kind of value a count, a wait and the jitter may hold, on either side.
struct Row {
    const char* name;
    Store store;
    const char* sql;  // the value as SQL writes it into the database (nullptr: not tried there)
    const char* ini;  // the value as the node-local file holds it (nullptr: not tried there)
    std::int64_t taken;
    // The reader's error ("{path}": the store's path, "{key}": the key read, "{ini}": the value), or
    // nullptr: on the database side each read traced with it and the defaults kept; on the node-local
    // side the handler's construction throws it for the first key read.
    const char* databaseError;
    const char* nodeLocalError;
};

const char* const notAnInteger = "setting '{key}' value '{ini}' is not an integer";

// A FIFO, a character device and a directory take one branch of the check for a regular file: the
// FIFO stands for those that could keep a reader waiting, the directory for Windows. Garbage stands
// for every file that SQLite refuses (random pages behind a valid header, a database without the
// table): in the reader, each is the same failed query. The values: a negative one, the largest that
// a count or a wait holds (in hex in the node-local file), one more, a decimal too long for 64 bits,
// text (the one branch of either reader for every value that is no integer: a real number, a blob,
// NULL), zero, and every bound of the rules (one more is the largest value's case). Values that SQLite's column
// affinity turns into integers ('12', 1.0) are SQLite's.
const Row rows[] = {
#if !defined(_WIN32)
    {"FIFO", Store::fifo, "", "", none, "cannot read {path}: not a regular file (a FIFO)",
     "cannot read {path}: not a regular file (a FIFO)"},
#endif
    {"directory", Store::directory, "", "", none, "cannot read {path}: not a regular file (a directory)",
     "cannot read {path}: not a regular file (a directory)"},
    {"missing", Store::missing, "", "", none, "unable to open database file", nullptr},
    {"garbage", Store::garbage, "", "", none, "file is not a database",
     "{path} line 1: '=' character not found in line"},
    {"locked by another process", Store::locked, "1", "1", 1, "database is locked", nullptr},
    {"negative", Store::values, "-1", "-1", none, "setting '{key}' value -1 is out of range",
     "setting '{key}' value -1 is out of range"},
    {"2^32 - 1", Store::values, "4294967295", "0xFFFFFFFF", 4294967295LL, nullptr, nullptr},
    {"2^32", Store::values, "4294967296", "4294967296", none, "setting '{key}' value 4294967296 is out of range",
     "setting '{key}' value 4294967296 is out of range"},
    {"beyond 2^63 - 1", Store::values, nullptr, "99999999999999999999", none, nullptr,
     "setting '{key}' value '{ini}' is out of range"},
    {"text", Store::values, "'ten'", "ten", none, "setting '{key}' is text, not an integer", notAnInteger},
    {"zero", Store::values, "0", nullptr, 0, nullptr, nullptr},
    {"the access-denied count bound", Store::values, "5", nullptr, 5, nullptr, nullptr},
    {"the access-denied wait bound", Store::values, "20", nullptr, 20, nullptr, nullptr},
    {"the other wait bound", Store::values, "60", nullptr, 60, nullptr, nullptr},
    {"the other count bound", Store::values, "100", nullptr, 100, nullptr, nullptr},
};

std::string replaced(std::string text, const std::string& name, const std::string& value) {
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
        text.replace(at, name.size(), value);
    }
    return text;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

// Every rule's keys, and the jitter key that they all read.
std::vector<std::string> allKeys() {
    std::vector<std::string> keys = {"FileRetryWaitError"};
    for (const RuleContract& rule : gridtest::ruleContract) keys.insert(keys.end(), {rule.retriesKey, rule.waitKey});
    return keys;
}

// A store at the path holding the value for every rule's keys: a database table, or a node-local file.
void writeValues(Side side, const std::string& path, const std::string& value) {
    std::string text =
        side == Side::database ? "CREATE TABLE global_settings(key TEXT PRIMARY KEY, value INTEGER);" : "";
    for (const std::string& key : allKeys()) {
        text += side == Side::nodeLocal ? key + " = " + value + "\n"
                                        : "INSERT INTO global_settings VALUES('" + key + "', " + value + ");";
    }
    if (side == Side::nodeLocal) return writeFile(path, text);
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, text.c_str(), nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// A handler built on the store: each rule's count, wait and jitter (the defaults, or the value taken
// and bounded as the rules promise), the trace lines in the order of the reads, and each rule's first
// wait: its lines (a count of 0 gives up at once) and the seconds it asks the host's sleep for: within the rule's wait
// and its bounded extra, and within what the sleep's int can hold. `message` is the database reader's error, "{key}"
// the key read (empty: none).
void expectHandler(std::int64_t taken, const std::string& message) {
    GridApi::UncFileOperationRetryHandler handler("DeleteFile");
    std::vector<std::string> expected;
    auto bounded = [&](const RuleContract& rule, std::int64_t stored, std::uint32_t bound, const std::string& what) {
        if (stored <= bound) return static_cast<std::uint32_t>(stored);
        expected.push_back("GRIDAPI-T-1111 limiting the '" + std::string(rule.description) + "' " + what +
                           std::to_string(bound) + (what == "number of retries to " ? "." : " seconds."));
        return bound;
    };
    std::vector<std::string> waited;  // the lines of each rule's first wait, after those of the reads
    std::size_t sleeps = 0;
    for (const RuleContract& c : gridtest::ruleContract) {
        SCOPED_TRACE(c.description);
        FileOperationRetry& rule = *handler.rules.at(c.code);
        for (const char* key : {c.retriesKey, c.waitKey, "FileRetryWaitError"}) {
            if (!message.empty())
                expected.push_back(
                    "GRIDAPI-T-1111 Database error calling getGlobalSetting: " + replaced(message, "{key}", key) + ".");
        }
        const std::uint32_t extra = std::min<std::uint32_t>(c.maxWaitSeconds, 3600);
        EXPECT_EQ(taken == none ? c.retries : bounded(c, taken, c.maxRetries, "number of retries to "),
                  rule.numRetries);
        EXPECT_EQ(taken == none ? c.waitSeconds : bounded(c, taken, c.maxWaitSeconds, "wait time to "),
                  rule.waitSeconds);
        EXPECT_EQ(
            taken == none ? 3u : bounded(c, std::max<std::int64_t>(taken, 1) - 1, extra, "random extra wait to ") + 1,
            rule.waitJitterSeconds);
        StravoStorageApi::RetryHandlerContext context;  // a first failure: it waits unless the count is 0
        EXPECT_EQ(rule.numRetries != 0, rule.waitForRetry(context));
        EXPECT_EQ(rule.numRetries != 0 ? 1u : 0u, context.attempts) << "giving up resets the count";
        waited.push_back("GRIDAPI-I-0001 Could not perform a file 'DeleteFile' operation:");
        waited.push_back("GRIDAPI-I-0001 Error: '" + std::string(c.description) + "'. " +
                         (rule.numRetries == 0 ? "No retry will be performed."
                                               : "Retrying " + std::to_string(rule.numRetries) + " times, waiting " +
                                                     std::to_string(rule.waitSeconds) + " seconds between retries."));
        if (rule.numRetries == 0)
            waited.push_back("GRIDAPI-W-0002 Could not 'DeleteFile' file (All '" + std::string(c.description) +
                             "' retries exhausted.)");
        const std::vector<int> slept = StravoHostControl::recordedSleeps();
        sleeps += rule.numRetries != 0;
        ASSERT_EQ(sleeps, slept.size());
        if (rule.numRetries == 0) continue;
        EXPECT_GE(slept.back(), std::min<std::int64_t>(rule.waitSeconds, INT32_MAX));
        EXPECT_LE(slept.back(),
                  std::min<std::int64_t>(std::int64_t(rule.waitSeconds) + rule.waitJitterSeconds - 1, INT32_MAX));
    }
    expected.insert(expected.end(), waited.begin(), waited.end());
    EXPECT_EQ(expected, StravoHostControl::capturedLogLines());
}

class HostileSettingsTest : public gridtest::HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        directory_ = fs::temp_directory_path() / ("grid-hostile-" + std::to_string(gridtest::processId()));
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override {
        HostTest::TearDown();
        // A read with no database named lets the read connection go: Windows removes no open file.
        std::uint32_t ignored = 0;
        CGlobalSettingHelperAdapter<CDBFactoryRetriever>()->getGlobalSetting("FileRetryWaitError", ignored, 0u);
        std::error_code error;
        fs::remove_all(directory_, error);
    }
    fs::path directory_;
};

// Every row on either side, within the limit of time for the handler's 42 reads (a locked database:
// one busy timeout, not one per read).
TEST_F(HostileSettingsTest, EveryStoreAndValueAnswersInTime) {
#if defined(_WIN32)
    const Side sides[] = {Side::database};  // the node-local side is the registry
#else
    const Side sides[] = {Side::database, Side::nodeLocal};
#endif
    for (const Side side : sides) {
        for (const Row& row : rows) {
            const bool database = side == Side::database;
            const char* const value = database ? row.sql : row.ini;
            if (!value) continue;
            gridtest::resetHost();
            // The log lines of a case (up to 42) go to a file of the test's own, not to its output.
            StravoHostControl::setLogFile((directory_ / "log.txt").string());
            const std::string path =
                (directory_ / ((database ? "database-" : "node-local-") + std::to_string(&row - rows))).string();
            SCOPED_TRACE(path + ": " + row.name);
            std::unique_ptr<gridtest::HeldLock> lock;
            if (row.store == Store::fifo) {
#if !defined(_WIN32)
                ASSERT_EQ(0, ::mkfifo(path.c_str(), 0600));
#endif
            } else if (row.store == Store::directory) {
                fs::create_directory(path);
            } else if (row.store == Store::garbage) {
                writeFile(path, "\x01\xFF garbage\n\xFE\x02 more garbage\n");
            } else if (row.store != Store::missing) {
                writeValues(side, path, value);
            }
            if (row.store == Store::locked) {
                lock.reset(new gridtest::HeldLock(
                    path, database ? gridtest::LockKind::sqliteExclusive : gridtest::LockKind::wholeFile));
                ASSERT_TRUE(lock->held());
            }
            if (database) {
                StravoHostControl::setDatabaseFile(path);
            } else {
                for (const std::string& key : allKeys()) StravoHostControl::setNodeLocalKey(key, true);
                StravoHostControl::setNodeLocalStore(path);
            }
            const char* const error = database ? row.databaseError : row.nodeLocalError;
            const std::string message = error ? replaced(replaced(error, "{path}", path), "{ini}", value) : "";
            StravoHostControl::clearCapturedLogLines();
            gridtest::runWithin(
                firstCallLimit,
                [&] {
                    try {
                        expectHandler(error ? none : row.taken, database ? message : "");
                        EXPECT_TRUE(database || !error) << "the handler was built";
                    } catch (const SettingsError& thrown) {
                        EXPECT_EQ(database || !error ? "(no error)"
                                                     : replaced(message, "{key}", gridtest::ruleContract[0].retriesKey),
                                  thrown.what());
                        EXPECT_EQ(std::vector<std::string>{}, lines());
                    }
                },
                path);
        }
    }
}

}  // namespace
