// gridctl run in-process on a scratch share: each row one invocation, checked by exit code, a piece
// of its output and, for --json, a field of the parsed document.

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <GridApi/FaultInjector.h>

#include "Gridctl.h"
#include "TestShare.h"

namespace {

struct Result {
    int rc;
    std::string out;
    std::string err;
};

// A local file of this test process (tests run side by side in one directory).
std::string local(const std::string& name) {
    return "gridctl-cli-" + std::to_string(gridtest::processId()) + "-" + name;
}

// "{d}" in an argument stands for the test's directory.
Result gridctl(const std::vector<std::string>& args, const std::string& dir) {
    std::vector<std::string> argv = {"gridctl", "--log", local("test.log")};
    for (std::string arg : args) {
        const std::string::size_type at = arg.find("{d}");
        if (at != std::string::npos) arg.replace(at, 3, dir);
        argv.push_back(arg);
    }
    std::ostringstream out, err;
    const int rc = gridctl::run(argv, out, err);
    return {rc, out.str(), err.str()};
}

struct Row {
    std::vector<std::string> args;
    int rc;
    std::string text;          // in stdout (or, for a failure, stderr); empty: not checked
    std::string jsonPointer;   // with --json: this field...
    nlohmann::json jsonValue;  // ...has this value
};

void check(const Row& row, const std::string& dir) {
    std::string line;
    for (const std::string& arg : row.args) line += arg + " ";
    SCOPED_TRACE(line);
    const Result result = gridctl(row.args, dir);
    EXPECT_EQ(result.rc, row.rc) << result.out << result.err;
    if (!row.text.empty()) {
        EXPECT_NE((row.rc ? result.err : result.out).find(row.text), std::string::npos) << result.out << result.err;
    }
    if (!row.jsonPointer.empty()) {
        const nlohmann::json doc = nlohmann::json::parse(result.out);
        EXPECT_EQ(doc.at(nlohmann::json::json_pointer(row.jsonPointer)), row.jsonValue) << result.out;
    }
}

std::string readLocal(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class GridctlTest : public gridtest::TestShare {
  protected:
    void SetUp() override {
        TestShare::SetUp();
        GridApi::FaultInjector::clear();
        std::ofstream(local("local.txt"), std::ios::binary) << "hello grid\n";
    }
    void TearDown() override {
        for (const char* name : {"local.txt", "copy.txt", "faulty.bin", "clean.bin", "settings.db", "test.log"})
            std::remove(local(name).c_str());
        GridApi::FaultInjector::clear();
        TestShare::TearDown();
    }
};

TEST_F(GridctlTest, EverySubcommandOnAScratchShare) {
    const std::vector<Row> rows = {
        {{"mkdir", "{d}\\sub"}, 0, "created", "", nullptr},
        {{"--json", "put", local("local.txt"), "{d}\\sub\\a.txt"}, 0, "", "/bytes", 11},
        {{"cat", "{d}\\sub\\a.txt"}, 0, "hello grid\n", "", nullptr},
        {{"--json", "stat", "{d}\\sub\\a.txt"}, 0, "", "/size", 11},
        {{"--json", "ls", "{d}\\sub"}, 0, "", "/entries/0/name", "a.txt"},
        {{"cp", "{d}\\sub\\a.txt", "{d}\\sub\\b.txt"}, 0, "copied", "", nullptr},
        {{"--json", "cp", "-n", "{d}\\sub\\a.txt", "{d}\\sub\\b.txt", "--time-scale", "0.0001"},
         1,
         "",
         "/error/name",
         "ERROR_FILE_EXISTS"},
        {{"mv", "{d}\\sub\\b.txt", "{d}\\c.txt"}, 0, "moved", "", nullptr},
        {{"get", "{d}\\c.txt", local("copy.txt")}, 0, "11 bytes", "", nullptr},
        {{"--json", "df", "{d}"}, 0, "", "/ok", true},
        {{"--json", "tempname", "{d}", "--prefix", "abc"}, 0, "", "/ok", true},
        {{"--json", "rm", "-r", "{d}\\sub"}, 0, "", "/path", nullptr},
        {{"stat", "{d}\\sub"}, 1, "ERROR_FILE_NOT_FOUND", "", nullptr},
        {{"--json", "ls", "{d}\\missing"}, 1, "", "/error/code", 2},
        {{"rm", "{d}\\c.txt"}, 0, "removed", "", nullptr},
    };
    for (Row row : rows) {
        if (row.jsonPointer == "/path") row.jsonValue = dir() + "\\sub";
        check(row, dir());
    }
    EXPECT_EQ(readLocal(local("copy.txt")), "hello grid\n");
}

TEST_F(GridctlTest, BadInputIsAClearErrorAndChangesNothing) {
    const std::string db = local("settings.db");
    const std::vector<Row> rows = {
        {{"--settings", db, "settings", "set", "NoSuchKey", "1"}, 2, "unknown settings key 'NoSuchKey'", "", nullptr},
        {{"--settings", db, "settings", "set", "NumRetriesNetNameDel", "abc"}, 2, "bad value 'abc'", "", nullptr},
        {{"--settings", db, "settings", "set", "NumRetriesNetNameDel", "4294967296"}, 2, "bad value", "", nullptr},
        {{"--settings", db, "settings", "set", "NumRetriesNetNameDel", "-1"}, 2, "bad value", "", nullptr},
        {{"--settings", db, "settings", "set", "UncCreateFileWriteThough", "2"}, 2, "expected 0 or 1", "", nullptr},
        {{"--settings", db, "settings", "get", "NoSuchKey"}, 2, "unknown settings key", "", nullptr},
        {{"settings", "set", "NumRetriesNetNameDel", "3"}, 5, "no settings database", "", nullptr},
        {{"--plugin", "no-such-dir/no-such-plugin", "ls", "{d}"},
         3,
         "cannot load no-such-dir/no-such-plugin",
         "",
         nullptr},
        {{"no-such-command"}, 2, "", "", nullptr},
        {{"drill", "{d}", "--codes", "64,x"}, 2, "bad --codes", "", nullptr},
        // Nothing above reached the database.
        {{"--json", "--settings", db, "settings", "get", "NumRetriesNetNameDel"}, 0, "", "/database/error", nullptr},
    };
    for (Row row : rows) {
        if (row.jsonPointer == "/database/error") {
            // The file was never created: reading it is an error, not a value.
            const Result result = gridctl(row.args, dir());
            EXPECT_EQ(result.rc, 0);
            EXPECT_TRUE(nlohmann::json::parse(result.out)["database"].contains("error")) << result.out;
            continue;
        }
        check(row, dir());
    }
}

TEST_F(GridctlTest, SettingsAndTheirSourceInThePolicy) {
    const std::string db = local("settings.db");
    const std::vector<Row> rows = {
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/1/count/source", "default"},
        {{"--settings", db, "settings", "set", "NumRetriesOnAccessDenied", "9"},
         0,
         "set NumRetriesOnAccessDenied = 9",
         "",
         nullptr},
        {{"--settings", db, "settings", "set", "SemTimeoutWaitSeconds", "7"}, 0, "", "", nullptr},
        {{"--json", "--settings", db, "settings", "get", "NumRetriesOnAccessDenied"}, 0, "", "/database", 9},
        // 5 access denied is rules[2] (ordered by code: 2, 3, 5, ...): 9 bounded to its maximum 5.
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/2/count/source", "bounded"},
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/2/count/value", 5},
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/2/count/stored", 9},
        {{"--settings", db, "policy"}, 0, "database 9, bounded to 5", "", nullptr},
        {{"--settings", db, "policy"}, 0, "ERROR_SEM_TIMEOUT", "", nullptr},
        {{"--settings", db, "settings", "unset", "NumRetriesOnAccessDenied"}, 0, "unset", "", nullptr},
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/2/count/source", "default"},
        {{"--settings", db, "settings", "list"}, 0, "SemTimeoutWaitSeconds", "", nullptr},
    };
    for (const Row& row : rows) check(row, dir());
}

// The data that comes through a faulty share is the data of a share without faults.
TEST_F(GridctlTest, DrillWithAFixedSeedIsRepeatableAndItsFileIdentical) {
    ASSERT_EQ(gridctl({"mkdir", "{d}\\clean"}, dir()).rc, 0);
    const std::vector<std::string> drill = {"--json", "drill", "--size",       "1",       "--chunk", "16",
                                            "--seed", "5",     "--time-scale", "0.00001", "--keep"};
    std::vector<std::string> faulty = drill, clean = drill;
    faulty.insert(faulty.begin() + 2, "{d}");
    clean.insert(clean.begin() + 2, "{d}\\clean");
    clean.insert(clean.end(), {"--fault-rate", "0"});

    const Result first = gridctl(faulty, dir());
    ASSERT_EQ(first.rc, 0) << first.out << first.err;
    EXPECT_EQ(gridctl(faulty, dir()).out, first.out);
    const nlohmann::json summary = nlohmann::json::parse(first.out);
    EXPECT_EQ(summary["result"], "verified: identical");
    EXPECT_GT(summary["faults"]["injected"].get<int>(), 0);
    EXPECT_GT(summary["faults"]["answersLost"].get<int>(), 0);
    EXPECT_EQ(summary["retries"], summary["faults"]["injected"]);

    ASSERT_EQ(gridctl(clean, dir()).rc, 0);
    ASSERT_EQ(gridctl({"get", "{d}\\gridctl-drill.bin", local("faulty.bin")}, dir()).rc, 0);
    ASSERT_EQ(gridctl({"get", "{d}\\clean\\gridctl-drill.bin", local("clean.bin")}, dir()).rc, 0);
    const std::string data = readLocal(local("faulty.bin"));
    EXPECT_EQ(data.size(), 1024u * 1024u);
    EXPECT_TRUE(data == readLocal(local("clean.bin")));
}

// Ctrl-C while the library waits out a network error: the wait ends, the operation gives up with
// its last error and the tool says so. A wait that did not end would take hours here.
TEST_F(GridctlTest, CtrlCDuringAWaitEndsTheOperationAtOnce) {
    ASSERT_EQ(gridctl({"put", local("local.txt"), "{d}\\victim"}, dir()).rc, 0);
    GridApi::Fault fault;
    fault.call = "DeleteFileA";
    fault.error = ERROR_NETNAME_DELETED;
    ASSERT_TRUE(GridApi::FaultInjector::add(fault));
    std::thread operatorPressesCtrlC([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        gridctl::requestCancel();
    });
    const Result result = gridctl({"--json", "--time-scale", "1000", "rm", "{d}\\victim"}, dir());
    operatorPressesCtrlC.join();
    EXPECT_EQ(result.rc, gridctl::exitCancelled);
    EXPECT_NE(result.err.find("cancelled by Ctrl-C"), std::string::npos) << result.err;
    EXPECT_EQ(nlohmann::json::parse(result.out)["error"]["code"], ERROR_NETNAME_DELETED);
    EXPECT_EQ(GridApi::FaultInjector::calls("DeleteFileA"), 1u);
}

}  // namespace
