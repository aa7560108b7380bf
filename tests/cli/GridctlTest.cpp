// gridctl run in-process on a scratch share: each row one invocation, checked by exit code, a piece
// of its output and, for --json, a field of the parsed document (every failure also for the one
// shape of a failure). The documented examples run the program itself, a process each.

#include <algorithm>
#include <regex>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <thread>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <GridApi/FaultInjector.h>
#include <GridApi/SystemCalls.h>

#include "FreshProcess.h"
#include "Gridctl.h"
#include "TestShare.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

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
    std::string text = "";               // in stdout (or, for a failure, stderr); empty: not checked
    std::string jsonPointer = "";        // with --json: this field...
    nlohmann::json jsonValue = nullptr;  // ...has this value ("{d}" in a string stands for the directory)
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

// The gridctl program beside this test program, run in a process of its own as an operator runs it
// (its handlers built afresh, so its retry options act from the first call), with no input.
Result runProgram(const std::vector<std::string>& args) {
    const std::string out = local("child.out"), err = local("child.err");
    std::vector<std::string> argv = {"gridctl", "--log", local("test.log")};
    argv.insert(argv.end(), args.begin(), args.end());
    int rc = -1;
#if defined(_WIN32)
    char self[MAX_PATH];
    EXPECT_NE(0u, GetModuleFileNameA(nullptr, self, sizeof self));
    const std::string program = boost::filesystem::path(self).parent_path().string() + "\\gridctl.exe";
    // Each word quoted; the C runtime splits this back into the words, as no example's word holds a
    // quote or ends in a backslash.
    std::string command;
    for (const std::string& arg : argv) {
        EXPECT_TRUE(arg.find('"') == std::string::npos && (arg.empty() || arg.back() != '\\')) << arg;
        command += " \"" + arg + "\"";
    }
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const auto file = [&](const char* name, DWORD access, DWORD disposition) {
        return CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, disposition, 0, nullptr);
    };
    STARTUPINFOA startup = {};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = file("NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = file(out.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = file(err.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    rc = gridtest::runToEnd(program, command.substr(1), startup);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(handle);
#else
    const std::string program = boost::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/gridctl";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(&arg[0]);
    pointers.push_back(nullptr);
    pid_t child = -1;
    const int failed = posix_spawn(&child, program.c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (failed) {
        ADD_FAILURE() << "posix_spawn " << program << ": " << std::strerror(failed);
    } else if (waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        rc = WEXITSTATUS(status);
    }
#endif
    // A Windows program's text output ends its lines in CR LF.
    const auto text = [](const std::string& name) {
        std::string content = readLocal(name);
        content.erase(std::remove(content.begin(), content.end(), '\r'), content.end());
        return content;
    };
    return {rc, text(out), text(err)};
}

const char* const localFiles[] = {"local.txt",  "copy.txt", "settings.db", "test.log",  "big.bin",  "back.bin",
                                  "binary.bin", "back",     "docs",        "child.out", "child.err"};

class GridctlTest : public gridtest::TestShare {
  protected:
    void SetUp() override {
        TestShare::SetUp();
        GridApi::FaultInjector::clear();
        std::ofstream(local("local.txt"), std::ios::binary) << "hello grid\n";
    }
    void TearDown() override {
        boost::system::error_code inUse;  // the log file stays open under Wine
        for (const char* name : localFiles) boost::filesystem::remove_all(local(name), inUse);
        GridApi::FaultInjector::clear();
        TestShare::TearDown();
    }
};

TEST_F(GridctlTest, EverySubcommandOnAScratchShare) {
    std::ofstream(local("binary.bin"), std::ios::binary) << std::string("a\0b", 3);
    const std::vector<Row> rows = {
        {{"mkdir", "{d}\\sub"}, 0, "created"},
        {{"--json", "mkdir", "{d}\\sub"}, 1, "ERROR_ALREADY_EXISTS", "/error/code", 183},
        {{"--json", "mkdir", "{d}\\x\\y\\z"}, 1, "ERROR_PATH_NOT_FOUND", "/path", "{d}\\x"},
        {{"--json", "mkdir", "-p", "{d}\\x\\y\\z"}, 0, "", "/created", 3},
        {{"mkdir", "-p", "{d}\\x\\y"}, 0, "exists"},
        {{"--json", "put", local("local.txt"), "{d}\\sub\\a.txt"}, 0, "", "/bytes", 11},
        {{"--json", "put", local("local.txt"), "{d}\\nope\\a.txt"}, 1, "", "/error/name", "ERROR_PATH_NOT_FOUND"},
        {{"--json", "put", ".", "{d}\\sub\\dot"}, 2, "put -r copies folders", "/error/name", "usage"},
        {{"cat", "{d}\\sub\\a.txt"}, 0, "hello grid\n"},
        {{"get", "{d}\\sub\\a.txt", "-"}, 0, "hello grid\n"},
        {{"--json", "stat", "{d}\\sub\\a.txt"}, 0, "", "/size", 11},
        {{"--json", "ls", "{d}\\sub"}, 0, "", "/entries/0/name", "a.txt"},
        {{"cp", "{d}\\sub\\a.txt", "{d}\\sub\\b.txt"}, 0, "11 bytes"},
        {{"put", local("binary.bin"), "{d}\\sub\\bin.dat"}, 0, "3 bytes"},
        {{"--json", "cat", "{d}\\sub\\bin.dat"}, 1, "binary data", "/error/name", "data"},
        // Patterns in the last component, matched in either case.
        {{"--json", "ls", "{d}\\sub\\*.TXT"}, 0, "", "/entries/1/name", "b.txt"},
        {{"--json", "stat", "{d}\\sub\\?.txt"}, 0, "", "/entries/1/size", 11},
        {{"--json", "ls", "{d}\\sub\\*.none"}, 1, "", "/error/name", "ERROR_FILE_NOT_FOUND"},
        {{"--json", "cp", "-n", "{d}\\sub\\a.txt", "{d}\\sub\\b.txt"}, 1, "", "/path", "{d}\\sub\\b.txt"},
        {{"mv", "{d}\\sub\\b.txt", "{d}\\c.txt"}, 0, "moved"},
        {{"get", "{d}\\c.txt", local("copy.txt")}, 0, "11 bytes"},
        {{"--json", "get", "{d}\\missing.txt", local("back.bin")}, 1, "", "/error/code", 2},
        // put -r and get -r: a folder tree there and back.
        {{"mkdir", "-p", "{d}\\src\\inner"}, 0},
        {{"put", local("local.txt"), "{d}\\src\\inner\\a.txt"}, 0},
        {{"--json", "get", "-r", "{d}\\src", local("back")}, 0, "", "/bytes", 11},
        {{"--json", "put", "-r", local("back"), "{d}\\copy"}, 0, "", "/bytes", 11},
        {{"cat", "{d}\\copy\\inner\\a.txt"}, 0, "hello grid\n"},
        {{"--json", "df", "{d}"}, 0, "", "/ok", true},
        {{"--json", "tempname", "{d}", "--prefix", "abc"}, 0, "", "/ok", true},
        // Only UNC names of a share or below.
        {{"--json", "stat", "\\\\gridtest"}, 2, "names a server", "/error/name", "usage"},
        {{"stat", local("local.txt")}, 2, "not a UNC name"},
        {{"--json", "rm", "-r", gridtest::shareRoot()}, 2, "refusing to remove the share root"},
        {{"--json", "rm", "-r", "--dry-run", "{d}\\x"}, 0, "", "/folders", 3},
        {{"stat", "{d}\\x\\y\\z"}, 0, "directory"},
        {{"--json", "rm", "{d}\\sub\\*.dat"}, 0, "", "/files", 1},
        {{"--json", "rm", "-r", "{d}\\sub"}, 0, "", "/files", 1},
        {{"stat", "{d}\\sub"}, 1, "ERROR_FILE_NOT_FOUND"},
        {{"rm", "{d}\\c.txt"}, 0, "removed 1 files"},
    };
    for (const Row& row : rows) check(row, dir());
    EXPECT_EQ(readLocal(local("copy.txt")), "hello grid\n");
    EXPECT_FALSE(localExists(local("back.bin"))) << "a failed get left a local file";
}

TEST_F(GridctlTest, BadInputIsAClearErrorAndChangesNothing) {
    const std::string db = local("settings.db");
    std::ofstream(local("copy.txt")) << "not a database, but long enough to be read as one by SQLite: "
                                     << std::string(200, 'x');
    const std::vector<Row> rows = {
        {{"--settings", db, "settings", "set", "NoSuchKey", "1"}, 2, "unknown settings key 'NoSuchKey'"},
        {{"--settings", db, "settings", "set", "NumRetriesNetNameDel", "abc"}, 2, "bad value 'abc'"},
        {{"--settings", db, "settings", "set", "NumRetriesNetNameDel", "4294967296"}, 2, "bad value"},
        {{"--settings", db, "settings", "set", "UncCreateFileWriteThough", "2"}, 2, "expected 0 or 1"},
        {{"--json", "settings", "set", "NumRetriesNetNameDel", "3"}, 5, "no settings database", "/exit", 5},
        {{"--plugin", "no-such-dir/no-such-plugin", "ls", "{d}"}, 3, "cannot load no-such-dir/no-such-plugin"},
        {{"--json", "bogus"}, 2, "unknown command 'bogus'", "/error/name", "usage"},
        {{"--json", "drill", "{d}", "--codes", "64,x"}, 2, "bad --codes", "/command", "drill"},
        {{"drill", "{d}", "--fault-rate", "nan"}, 2, "--fault-rate must be"},
        {{"--time-scale", "0", "ls", "{d}"}, 2, "--time-scale: must be a number from 1e-09 to 1000"},
        {{"--time-scale", "nan", "ls", "{d}"}, 2, "--time-scale: must be"},
        {{"--retries", "-1", "ls", "{d}"}, 2, "--retries"},
        {{"--retry-wait", "1e308", "ls", "{d}"}, 2, "--retry-wait"},
        {{"--json", "get", "{d}\\a", "-"}, 2, "not JSON"},
        {{"--log", "no-such-dir/x.log", "ls", "{d}"}, 2, "cannot write the log file"},
        // A missing or corrupt store named: one line, exit 5, for every command that reads it.
        {{"--json", "--settings", db, "stat", "{d}"}, 5, "cannot be read", "/error/name", "settings"},
        {{"--settings", local("copy.txt"), "policy"}, 5, "cannot be read"},
    };
    for (const Row& row : rows) check(row, dir());
    EXPECT_FALSE(localExists(db)) << "a failed command created the settings database";
}

TEST_F(GridctlTest, SettingsAndTheirSourceInThePolicy) {
    const std::string db = local("settings.db");
    const std::vector<Row> rows = {
        {{"--settings", db, "settings", "set", "NumRetriesOnAccessDenied", "9"}, 0},
        {{"--settings", db, "settings", "set", "SemTimeoutWaitSeconds", "7"}, 0},
        {{"--json", "--settings", db, "settings", "get", "NumRetriesOnAccessDenied"}, 0, "", "/database", 9},
        // The README's policy example shows the bounding in text; 5 access denied is rules[2] (by code).
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/2/count/stored", 9},
        // The command line's layer: above both stores, this run only.
        {{"--json", "--settings", db, "--retries", "3", "policy"}, 0, "", "/rules/0/count/value", 3},
        {{"--json", "--settings", db, "--no-retry", "policy"}, 0, "", "/rules/0/count/source", "command line"},
        {{"--json", "--settings", db, "--retry-wait", "2", "policy"}, 0, "", "/rules/0/waitSeconds/value", 2},
        {{"--settings", db, "--retries", "30", "policy"}, 0, "command line 30, bounded to 5 "},
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/0/count/value", 16},  // the next run: none
        {{"--settings", db, "settings", "unset", "NumRetriesOnAccessDenied"}, 0, "unset"},
        {{"--json", "--settings", db, "policy"}, 0, "", "/rules/2/count/source", "default"},
        {{"--settings", db, "settings", "list"}, 0, "SemTimeoutWaitSeconds"},
    };
    for (const Row& row : rows) check(row, dir());
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
const char* const hookedCalls[] = {"WriteFile", "ReadFile", "DeleteFileA"};
template <int Call, typename... Args>
BOOL WINAPI pressCtrlCThenCall(Args... args) {
    if (--callsBeforeCtrlC == 0) std::raise(SIGINT);
    return reinterpret_cast<BOOL(WINAPI*)(Args...)>(GridApi::getDefaultSystemCall(hookedCalls[Call]))(args...);
}
const std::map<std::string, void*> hooks = {
    {"WriteFile", (void*)&pressCtrlCThenCall<0, HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED>},
    {"ReadFile", (void*)&pressCtrlCThenCall<1, HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED>},
    {"DeleteFileA", (void*)&pressCtrlCThenCall<2, LPCSTR>}};

TEST_F(GridctlTest, CtrlCStopsTransfersAndWalksAndRemovesPartialOutput) {
    std::ofstream(local("big.bin"), std::ios::binary) << std::string(3 * 1024 * 1024 + 5, 'g');
    ASSERT_EQ(gridctl({"put", local("big.bin"), "{d}\\big.bin"}, dir()).rc, 0);
    ASSERT_EQ(gridctl({"mkdir", "-p", "{d}\\tree\\a"}, dir()).rc, 0);
    for (const char* name : {"{d}\\tree\\a\\1", "{d}\\tree\\a\\2", "{d}\\tree\\3"})
        ASSERT_EQ(gridctl({"put", local("local.txt"), name}, dir()).rc, 0);
    struct CtrlCRow {
        std::vector<std::string> args;
        std::string call;
        std::string left;  // what must not be there afterwards ("" none); {l}: a local file
        std::string kept;  // what must be there afterwards
        std::string text;
    };
    const std::vector<CtrlCRow> rows = {
        {{"put", local("big.bin"), "{d}\\put.bin"},
         "WriteFile",
         "{d}\\put.bin",
         "",
         "2097152 of 3145733 bytes done; the partial file {d}\\put.bin was removed"},
        {{"put", "--partial", local("big.bin"), "{d}\\kept.bin"},
         "WriteFile",
         "",
         "{d}\\kept.bin",
         "was kept (--partial)"},
        {{"get", "{d}\\big.bin", local("back.bin")}, "ReadFile", "{l}back.bin", "", "was removed"},
        {{"rm", "-r", "{d}\\tree"},
         "DeleteFileA",
         "",
         "{d}\\tree\\a\\2",
         "removed 2 files and 0 folders before stopping"},
        {{"drill", "{d}", "--size", "1", "--chunk", "64"},
         "WriteFile",
         "{d}\\gridctl-drill.bin",
         "",
         "cancelled by Ctrl-C"},
    };
    for (const CtrlCRow& row : rows) {
        SCOPED_TRACE(row.args[0]);
        gridctl::installInterruptHandler();
        callsBeforeCtrlC = 2;
        ASSERT_TRUE(GridApi::setSystemCall(row.call.c_str(), hooks.at(row.call)));
        const Result result = gridctl(row.args, dir());
        GridApi::setSystemCall(row.call.c_str(), nullptr);
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

// Shell words of an example: blanks separate them, single quotes keep everything, " #" ends them.
std::vector<std::string> shellWords(const std::string& line) {
    std::istringstream in(line.substr(0, line.find(" #")));
    std::vector<std::string> words;
    for (std::string word; in >> std::quoted(word, '\'', '\x01');) words.push_back(word);
    return words;
}

// A documented line of output as a pattern: "..." stands for any text, "<...>" for a value named.
std::regex shape(const std::string& line) {
    const std::string escaped = std::regex_replace(line, std::regex("[^A-Za-z0-9 ]"), "\\$&");
    return std::regex(std::regex_replace(escaped, std::regex(R"(\\\.\\\.\\\.|\\<[^>]*\\>)"), ".*"));
}

struct Example {
    std::string line;
    int rc;                           // 0 unless "# exit N" follows it
    std::vector<std::string> output;  // the lines shown below it, in order
};

// Every gridctl command line a document shows: a code block's line (its following lines, up to
// the next command, are its output) or an inline `gridctl ...`; not a synopsis ([...], <...>).
std::vector<Example> examples(const std::string& doc) {
    std::ifstream in(std::string(GRID_SOURCE_DIR) + "/" + doc);
    std::vector<Example> found;
    bool inBlock = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string::size_type at = line.find_first_not_of(' ');
        std::vector<std::string> commands;
        if (at != std::string::npos && at >= 4) {
            commands.push_back(line.substr(4));
        } else {
            for (std::string::size_type tick = 0; (tick = line.find("`gridctl ", tick)) != std::string::npos; ++tick)
                commands.push_back(line.substr(tick + 1, line.find('`', tick + 1) - tick - 1));
        }
        inBlock = inBlock && at >= 4 && at != std::string::npos;
        for (const std::string& command : commands) {
            const std::vector<std::string> args = shellWords(command);
            if (args.size() > 1 && args[0] == "gridctl" && args[1].back() != ':') {
                if (command.find_first_of("[<") != std::string::npos) continue;
                const std::string::size_type exit = command.find("# exit ");
                found.push_back({command, exit == std::string::npos ? 0 : std::atoi(&command[exit + 7]), {}});
                inBlock = at >= 4;
            } else if (inBlock && command != "...") {
                found.back().output.push_back(command);
            }
        }
    }
    return found;
}

// Every example of the README and docs/gridctl.md, run in document order on the build's shares
// (\\demo\share as `make demo` makes it, \\gridtest\share) from a folder holding what they name:
// exit 0 or the code noted beside it, and the output shown below it, line by line.
TEST_F(GridctlTest, EveryDocumentedExampleRunsOnAShare) {
    const std::string home = boost::filesystem::current_path().string(), work = local("docs");
    boost::filesystem::create_directories(work + "/build/demo");
    boost::filesystem::copy_file(std::string(GRID_SOURCE_DIR) + "/README.md", work + "/README.md");
    ASSERT_EQ(gridctl({"put", local("local.txt"), gridtest::shareRoot() + "\\a.bin"}, dir()).rc, 0);
    boost::filesystem::current_path(work);
    const std::string eventSource = "gridctl event-source ";
#if defined(_WIN32)
    // Registering the event source writes the registry of the prefix in which the package label's
    // event-source test runs these commands at the same time: parsed only.
    const bool runsEventSource = false;
#else
    // On Linux each of them says that syslog needs no registration, and exits with 2.
    const bool runsEventSource = true;
#endif
    int count = 0;
    for (const char* doc : {"README.md", "docs/gridctl.md"}) {
        for (const Example& example : examples(doc)) {
            SCOPED_TRACE(std::string(doc) + ": " + example.line);
            ++count;
            const std::vector<std::string> words = shellWords(example.line), args(words.begin() + 1, words.end());
            std::ostringstream out, err;
            const bool ofEventSource = example.line.compare(0, eventSource.size(), eventSource) == 0;
            if (ofEventSource && !runsEventSource) {
                EXPECT_EQ(gridctl::parseArguments(words, out, err), gridctl::parsedToRun) << err.str();
                continue;
            }
            const Result result = runProgram(args);
            EXPECT_EQ(result.rc, ofEventSource ? 2 : example.rc) << result.out << result.err;
            std::istringstream lines(result.out + result.err);
            std::string got;
            for (const std::string& expected : example.output) {
                while (std::getline(lines, got) && !std::regex_match(got, shape(expected))) {
                }
                EXPECT_TRUE(lines) << "not in the output: " << expected << "\n" << result.out << result.err;
            }
        }
    }
    boost::filesystem::current_path(home);
    DeleteFileA((gridtest::shareRoot() + "\\a.bin").c_str());
    EXPECT_GE(count, 12);
}

}  // namespace
