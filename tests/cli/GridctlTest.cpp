// gridctl run in-process on a scratch share: each row one invocation, checked by exit code, a piece
// of its output and, for --json, a field of the parsed document (every failure also for the one
// shape of a failure).

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <GridApi/FaultInjector.h>
#include <GridApi/SystemCalls.h>

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

// "{d}" stands for the test's directory, "{l}" for the prefix of this process's local files.
std::string expand(std::string text, const std::string& dir) {
    for (const auto& token : {std::make_pair("{d}", dir), std::make_pair("{l}", local(""))}) {
        std::string::size_type at;
        while ((at = text.find(token.first)) != std::string::npos) text.replace(at, 3, token.second);
    }
    return text;
}

Result gridctl(const std::vector<std::string>& args, const std::string& dir) {
    std::vector<std::string> argv = {"gridctl", "--log", local("test.log")};
    for (const std::string& arg : args) argv.push_back(expand(arg, dir));
    std::ostringstream out, err;
    const int rc = gridctl::run(argv, out, err);
    return {rc, out.str(), err.str()};
}

struct Row {
    std::vector<std::string> args;
    int rc;
    std::string text;          // in stdout (or, for a failure, stderr); empty: not checked
    std::string jsonPointer;   // with --json: this field...
    nlohmann::json jsonValue;  // ...has this value ("{d}" in a string stands for the directory)
};

void check(const Row& row, const std::string& dir) {
    std::string line;
    for (const std::string& arg : row.args) line += arg + " ";
    SCOPED_TRACE(line);
    const Result result = gridctl(row.args, dir);
    EXPECT_EQ(result.rc, row.rc) << result.out << result.err;
    if (!row.text.empty()) {
        EXPECT_NE((row.rc ? result.err : result.out).find(expand(row.text, dir)), std::string::npos)
            << result.out << result.err;
    }
    if (std::find(row.args.begin(), row.args.end(), "--json") == row.args.end()) return;
    const nlohmann::json doc = nlohmann::json::parse(result.out);
    EXPECT_EQ(doc["ok"], row.rc == 0) << result.out;
    if (row.rc != 0) {
        for (const char* key : {"/command", "/path", "/bytes", "/exit", "/error/code", "/error/name", "/error/message"})
            EXPECT_TRUE(doc.contains(nlohmann::json::json_pointer(key))) << key << " in " << result.out;
        EXPECT_EQ(doc["exit"], row.rc);
    }
    if (row.jsonPointer.empty()) return;
    const nlohmann::json expected =
        row.jsonValue.is_string() ? nlohmann::json(expand(row.jsonValue.get<std::string>(), dir)) : row.jsonValue;
    EXPECT_EQ(doc.at(nlohmann::json::json_pointer(row.jsonPointer)), expected) << result.out;
}

std::string readLocal(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool localExists(const std::string& name) { return static_cast<bool>(std::ifstream(name)); }

const char* const localFiles[] = {"local.txt", "copy.txt", "faulty.bin", "clean.bin", "settings.db",
                                  "test.log",  "big.bin",  "back.bin",   "binary.bin"};

class GridctlTest : public gridtest::TestShare {
  protected:
    void SetUp() override {
        TestShare::SetUp();
        GridApi::FaultInjector::clear();
        std::ofstream(local("local.txt"), std::ios::binary) << "hello grid\n";
    }
    void TearDown() override {
        for (const char* name : localFiles) std::remove(local(name).c_str());
        GridApi::FaultInjector::clear();
        TestShare::TearDown();
    }
};

TEST_F(GridctlTest, EverySubcommandOnAScratchShare) {
    std::ofstream(local("binary.bin"), std::ios::binary) << std::string("a\0b", 3);
    const std::vector<Row> rows = {
        {{"mkdir", "{d}\\sub"}, 0, "created", "", nullptr},
        {{"--json", "mkdir", "{d}\\sub"}, 1, "ERROR_ALREADY_EXISTS", "/error/code", 183},
        {{"--json", "mkdir", "{d}\\x\\y\\z"}, 1, "ERROR_PATH_NOT_FOUND", "/path", "{d}\\x"},
        {{"--json", "mkdir", "-p", "{d}\\x\\y\\z"}, 0, "", "/created", 3},
        {{"mkdir", "-p", "{d}\\x\\y"}, 0, "exists", "", nullptr},
        {{"--json", "put", local("local.txt"), "{d}\\sub\\a.txt"}, 0, "", "/bytes", 11},
        {{"--json", "put", local("local.txt"), "{d}\\nope\\a.txt"}, 1, "", "/error/name", "ERROR_PATH_NOT_FOUND"},
        {{"--json", "put", ".", "{d}\\sub\\dot"}, 2, "put -r copies folders", "/error/name", "usage"},
        {{"cat", "{d}\\sub\\a.txt"}, 0, "hello grid\n", "", nullptr},
        {{"get", "{d}\\sub\\a.txt", "-"}, 0, "hello grid\n", "", nullptr},
        {{"--json", "stat", "{d}\\sub\\a.txt"}, 0, "", "/size", 11},
        {{"--json", "ls", "{d}\\sub"}, 0, "", "/entries/0/name", "a.txt"},
        {{"cp", "{d}\\sub\\a.txt", "{d}\\sub\\b.txt"}, 0, "11 bytes", "", nullptr},
        {{"put", local("binary.bin"), "{d}\\sub\\bin.dat"}, 0, "3 bytes", "", nullptr},
        {{"--json", "cat", "{d}\\sub\\bin.dat"}, 1, "binary data", "/error/name", "data"},
        // Patterns in the last component, matched in either case.
        {{"--json", "ls", "{d}\\sub\\*.TXT"}, 0, "", "/entries/1/name", "b.txt"},
        {{"--json", "stat", "{d}\\sub\\?.txt"}, 0, "", "/entries/1/size", 11},
        {{"--json", "ls", "{d}\\sub\\*.none"}, 1, "", "/error/name", "ERROR_FILE_NOT_FOUND"},
        {{"--json", "cp", "-n", "{d}\\sub\\a.txt", "{d}\\sub\\b.txt"}, 1, "", "/path", "{d}\\sub\\b.txt"},
        {{"mv", "{d}\\sub\\b.txt", "{d}\\c.txt"}, 0, "moved", "", nullptr},
        {{"get", "{d}\\c.txt", local("copy.txt")}, 0, "11 bytes", "", nullptr},
        {{"--json", "get", "{d}\\missing.txt", local("back.bin")}, 1, "", "/error/code", 2},
        {{"--json", "df", "{d}"}, 0, "", "/ok", true},
        {{"--json", "tempname", "{d}", "--prefix", "abc"}, 0, "", "/ok", true},
        // Only UNC names of a share or below.
        {{"--json", "stat", "\\\\gridtest"}, 2, "names a server", "/error/name", "usage"},
        {{"stat", local("local.txt")}, 2, "not a UNC name", "", nullptr},
        {{"--json", "rm", "-r", gridtest::shareRoot()}, 2, "refusing to remove the share root", "", nullptr},
        {{"--json", "rm", "-r", "--dry-run", "{d}\\x"}, 0, "", "/folders", 3},
        {{"stat", "{d}\\x\\y\\z"}, 0, "directory", "", nullptr},
        {{"--json", "rm", "{d}\\sub\\*.dat"}, 0, "", "/files", 1},
        {{"rm", "-r", "{d}\\x"}, 0, "removed 0 files and 3 folders", "", nullptr},
        {{"--json", "rm", "-r", "{d}\\sub"}, 0, "", "/files", 1},
        {{"stat", "{d}\\sub"}, 1, "ERROR_FILE_NOT_FOUND", "", nullptr},
        {{"--json", "ls", "{d}\\missing"}, 1, "", "/error/code", 2},
        {{"rm", "{d}\\c.txt"}, 0, "removed 1 files", "", nullptr},
    };
    for (const Row& row : rows) check(row, dir());
    EXPECT_EQ(readLocal(local("copy.txt")), "hello grid\n");
    EXPECT_FALSE(localExists(local("back.bin"))) << "a failed get left a local file";
}

// put -r and get -r: a folder tree there and back.
TEST_F(GridctlTest, FoldersThereAndBack) {
    const std::string back = local("back");
    ASSERT_EQ(gridctl({"mkdir", "{d}\\src"}, dir()).rc, 0);
    ASSERT_EQ(gridctl({"mkdir", "{d}\\src\\inner"}, dir()).rc, 0);
    ASSERT_EQ(gridctl({"put", local("local.txt"), "{d}\\src\\inner\\a.txt"}, dir()).rc, 0);
    const std::vector<Row> rows = {
        {{"--json", "get", "-r", "{d}\\src", back}, 0, "", "/bytes", 11},
        {{"--json", "put", "-r", back, "{d}\\copy"}, 0, "", "/bytes", 11},
        {{"cat", "{d}\\copy\\inner\\a.txt"}, 0, "hello grid", "", nullptr},
    };
    for (const Row& row : rows) check(row, dir());
    EXPECT_EQ(readLocal(back + "/inner/a.txt"), "hello grid\n");
    std::remove((back + "/inner/a.txt").c_str());
    std::remove((back + "/inner").c_str());
    std::remove(back.c_str());
}

TEST_F(GridctlTest, BadInputIsAClearErrorAndChangesNothing) {
    const std::string db = local("settings.db");
    std::ofstream(local("copy.txt")) << "not a database, but long enough to be read as one by SQLite: "
                                     << std::string(200, 'x');
    const std::vector<Row> rows = {
        {{"--settings", db, "settings", "set", "NoSuchKey", "1"}, 2, "unknown settings key 'NoSuchKey'", "", nullptr},
        {{"--settings", db, "settings", "set", "NumRetriesNetNameDel", "abc"}, 2, "bad value 'abc'", "", nullptr},
        {{"--settings", db, "settings", "set", "NumRetriesNetNameDel", "4294967296"}, 2, "bad value", "", nullptr},
        {{"--settings", db, "settings", "set", "NumRetriesNetNameDel", "-1"}, 2, "bad value", "", nullptr},
        {{"--settings", db, "settings", "set", "UncCreateFileWriteThough", "2"}, 2, "expected 0 or 1", "", nullptr},
        {{"--json", "settings", "set", "NumRetriesNetNameDel", "3"}, 5, "no settings database", "/exit", 5},
        {{"--plugin", "no-such-dir/no-such-plugin", "ls", "{d}"},
         3,
         "cannot load no-such-dir/no-such-plugin",
         "",
         nullptr},
        {{"--json", "bogus"}, 2, "unknown command 'bogus'", "/error/name", "usage"},
        {{"--json", "drill", "{d}", "--codes", "64,x"}, 2, "bad --codes", "/command", "drill"},
        {{"drill", "{d}", "--fault-rate", "nan"}, 2, "--fault-rate must be", "", nullptr},
        {{"--time-scale", "0", "ls", "{d}"}, 2, "--time-scale: must be a number from 1e-09 to 1000", "", nullptr},
        {{"--time-scale", "nan", "ls", "{d}"}, 2, "--time-scale: must be", "", nullptr},
        {{"--time-scale", "1e308", "ls", "{d}"}, 2, "--time-scale: must be", "", nullptr},
        {{"--retries", "-1", "ls", "{d}"}, 2, "--retries", "", nullptr},
        {{"--retry-wait", "1e308", "ls", "{d}"}, 2, "--retry-wait", "", nullptr},
        {{"--json", "get", "{d}\\a", "-"}, 2, "not JSON", "", nullptr},
        {{"--log", "no-such-dir/x.log", "ls", "{d}"}, 2, "cannot write the log file", "", nullptr},
        // A missing or corrupt store named: one line, exit 5, for every command that reads it.
        {{"--json", "--settings", db, "stat", "{d}"}, 5, "cannot be read", "/error/name", "settings"},
        {{"--settings", db, "settings", "get", "NumRetriesNetNameDel"}, 5, "cannot be read", "", nullptr},
        {{"--settings", local("copy.txt"), "policy"}, 5, "cannot be read", "", nullptr},
        // The drill refuses up front what the policy cannot carry: 121 is retried twice by default.
        {{"drill", "{d}", "--codes", "121", "--size", "256"}, 2, "Raise its count to at least 5", "", nullptr},
    };
    for (const Row& row : rows) check(row, dir());
    EXPECT_FALSE(localExists(db)) << "a failed command created the settings database";
}

TEST_F(GridctlTest, SettingsAndTheirSourceInThePolicy) {
    const std::string db = local("settings.db");
    const std::vector<Row> rows = {
        {{"--settings", db, "settings", "set", "NumRetriesOnAccessDenied", "9"},
         0,
         "note: the library bounds NumRetriesOnAccessDenied to 5",
         "",
         nullptr},
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/1/count/source", "default"},
        {{"--settings", db, "settings", "set", "SemTimeoutWaitSeconds", "7"}, 0, "", "", nullptr},
        {{"--json", "--settings", db, "settings", "get", "NumRetriesOnAccessDenied"}, 0, "", "/database", 9},
        // 5 access denied is rules[2] (ordered by code: 2, 3, 5, ...): 9 bounded to its maximum 5.
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/2/count/source", "bounded"},
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/2/count/value", 5},
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/2/count/stored", 9},
        {{"--settings", db, "policy"}, 0, "database 9, bounded to 5 ", "", nullptr},
        {{"--settings", db, "policy"}, 0, "ERROR_SEM_TIMEOUT", "", nullptr},
        // The command line's layer: above both stores, this run only.
        {{"--json", "--settings", db, "--retries", "3", "policy"}, 0, "", "/rules/0/count/value", 3},
        {{"--json", "--settings", db, "--no-retry", "policy"}, 0, "", "/rules/0/count/source", "command line"},
        {{"--json", "--settings", db, "--retry-wait", "2", "policy"}, 0, "", "/rules/0/waitSeconds/value", 2},
        {{"--settings", db, "--retries", "30", "policy"}, 0, "command line 30, bounded to 5 ", "", nullptr},
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/0/count/value", 16},
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
    std::uint64_t faults = 0, retries = 0;
    for (const auto& code : summary["codes"]) {
        faults += code["faults"].get<std::uint64_t>();
        retries += code["retries"].get<std::uint64_t>();
    }
    EXPECT_EQ(faults, summary["faults"]["injected"].get<std::uint64_t>());
    EXPECT_EQ(retries, summary["retries"].get<std::uint64_t>());

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

// The operator's Ctrl-C (a real SIGINT to this process, through gridctl's handler) arrives during
// the given call of a transfer or a walk, at a fixed point.
int callsBeforeCtrlC = 0;
void pressCtrlCOnTheCall() {
    if (--callsBeforeCtrlC == 0) std::raise(SIGINT);
}
BOOL WINAPI writeFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
    pressCtrlCOnTheCall();
    return reinterpret_cast<decltype(&::WriteFile)>(GridApi::getDefaultSystemCall("WriteFile"))(file, data, size, done,
                                                                                                overlapped);
}
BOOL WINAPI readFile(HANDLE file, LPVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
    pressCtrlCOnTheCall();
    return reinterpret_cast<decltype(&::ReadFile)>(GridApi::getDefaultSystemCall("ReadFile"))(file, data, size, done,
                                                                                              overlapped);
}
BOOL WINAPI deleteFile(LPCSTR name) {
    pressCtrlCOnTheCall();
    return reinterpret_cast<decltype(&::DeleteFileA)>(GridApi::getDefaultSystemCall("DeleteFileA"))(name);
}

TEST_F(GridctlTest, CtrlCStopsTransfersAndWalksAndRemovesPartialOutput) {
    std::ofstream(local("big.bin"), std::ios::binary) << std::string(3 * 1024 * 1024 + 5, 'g');
    ASSERT_EQ(gridctl({"put", local("big.bin"), "{d}\\big.bin"}, dir()).rc, 0);
    ASSERT_EQ(gridctl({"mkdir", "-p", "{d}\\tree\\a"}, dir()).rc, 0);
    for (const char* name : {"{d}\\tree\\a\\1", "{d}\\tree\\a\\2", "{d}\\tree\\3"})
        ASSERT_EQ(gridctl({"put", local("local.txt"), name}, dir()).rc, 0);
    struct CtrlCRow {
        std::vector<std::string> args;
        const char* call;
        void* hook;
        std::string left;  // what must not be there afterwards ("" none); {l}: a local file
        std::string kept;  // what must be there afterwards
        std::string text;
    };
    const std::vector<CtrlCRow> rows = {
        {{"put", local("big.bin"), "{d}\\put.bin"},
         "WriteFile",
         (void*)&writeFile,
         "{d}\\put.bin",
         "",
         "2097152 of 3145733 bytes done; the partial file {d}\\put.bin was removed"},
        {{"put", "--partial", local("big.bin"), "{d}\\kept.bin"},
         "WriteFile",
         (void*)&writeFile,
         "",
         "{d}\\kept.bin",
         "was kept (--partial)"},
        {{"get", "{d}\\big.bin", local("back.bin")}, "ReadFile", (void*)&readFile, "{l}back.bin", "", "was removed"},
        {{"cp", "{d}\\big.bin", "{d}\\cp.bin"},
         "WriteFile",
         (void*)&writeFile,
         "{d}\\cp.bin",
         "{d}\\big.bin",
         "was removed"},
        {{"rm", "-r", "{d}\\tree"},
         "DeleteFileA",
         (void*)&deleteFile,
         "",
         "{d}\\tree\\a\\2",
         "removed 2 files and 0 folders before stopping"},
        {{"drill", "{d}", "--size", "1", "--chunk", "64"},
         "WriteFile",
         (void*)&writeFile,
         "{d}\\gridctl-drill.bin",
         "",
         "cancelled by Ctrl-C"},
    };
    for (const CtrlCRow& row : rows) {
        SCOPED_TRACE(row.args[0]);
        gridctl::installInterruptHandler();
        callsBeforeCtrlC = 2;
        ASSERT_TRUE(GridApi::setSystemCall(row.call, row.hook));
        const Result result = gridctl(row.args, dir());
        GridApi::setSystemCall(row.call, nullptr);
        EXPECT_EQ(result.rc, gridctl::exitCancelled) << result.out << result.err;
        EXPECT_NE((result.err + result.out).find(expand(row.text, dir())), std::string::npos)
            << result.out << result.err;
        for (const std::string& name : {row.left, row.kept}) {
            if (name.empty()) continue;
            const std::string path = expand(name, dir());
            const bool there = name.compare(0, 3, "{l}") == 0
                                   ? localExists(path)
                                   : GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
            EXPECT_EQ(there, name == row.kept) << path;
        }
    }
    std::signal(SIGINT, SIG_DFL);
}

// Every code has its name, beyond the codes of shares too (from winerror.h), and its text.
TEST(GridctlErrors, EveryCodeHasItsNameAndText) {
    const std::pair<std::uint32_t, const char*> rows[] = {{2, "ERROR_FILE_NOT_FOUND"},
                                                          {161, "ERROR_BAD_PATHNAME"},
                                                          {17, "ERROR_NOT_SAME_DEVICE"},
                                                          {1450, "ERROR_NO_SYSTEM_RESOURCES"},
                                                          {0xFFFFFFF0u, "ERROR_4294967280"}};
    for (const auto& row : rows) {
        EXPECT_EQ(gridctl::errorName(row.first), row.second);
        EXPECT_FALSE(gridctl::errorMessage(row.first).empty()) << row.first;
    }
    // The codes of shares have their own text (the system's on Windows), not the fallback.
    for (std::uint32_t code : {2u, 67u, 121u, 161u})
        EXPECT_EQ(gridctl::errorMessage(code).find("not in gridctl's table"), std::string::npos) << code;
}

// Shell words of an example: blanks separate them, single quotes keep everything, "#" ends them.
std::vector<std::string> shellWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, inWord = false;
    for (char c : line + " ") {
        if (c == '\'') {
            quoted = !quoted;
            inWord = true;
        } else if (quoted || (c != ' ' && c != '#')) {
            word += c;
            inWord = true;
        } else {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            if (c == '#') break;
        }
    }
    return words;
}

// Every command line the README and docs/gridctl.md show (their code blocks' lines that start
// with "gridctl ", not a line of output, not a synopsis with [...]) is one gridctl accepts.
TEST(GridctlDocs, EveryExampleIsACommandLineGridctlAccepts) {
    for (const char* doc : {"README.md", "docs/gridctl.md"}) {
        std::ifstream in(std::string(GRID_SOURCE_DIR) + "/" + doc);
        ASSERT_TRUE(in) << doc;
        std::string line;
        int examples = 0;
        while (std::getline(in, line)) {
            const std::string::size_type at = line.find_first_not_of(' ');
            if (at == std::string::npos || at < 4 || line.compare(at, 8, "gridctl ") != 0 ||
                line.find('[') != std::string::npos)
                continue;
            const std::vector<std::string> args = shellWords(line.substr(at));
            if (args.size() < 2 || args[1].back() == ':') continue;
            std::ostringstream out, err;
            EXPECT_EQ(gridctl::parseArguments(args, out, err), gridctl::parsedToRun)
                << doc << ": " << line << err.str();
            ++examples;
        }
        EXPECT_GE(examples, 3) << doc;
    }
}

}  // namespace
