#include <StravoHost/Error.h>
#include <StravoHost/HostControl.h>
#include <StravoHost/Log.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestCatalogue.h"

namespace {

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

std::string temporaryPath(const std::string& name) {
    const char* dir = std::getenv("GRIDTEST_TMP");
    return std::string(dir && *dir ? dir : ".") + "/" + name;
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

class HostLog : public ::testing::Test {
  protected:
    void SetUp() override {
        StravoHostControl::resetToDefaults();
        StravoHostControl::setMessageModule(HostTestCatalogueModule());
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        logFile_ = temporaryPath(std::string("hostlog-") + info->name() + ".log");
        std::remove(logFile_.c_str());
        StravoHostControl::setLogFile(logFile_);
        StravoHostControl::enableLogCapture(true);
    }
    void TearDown() override {
        StravoHostControl::resetToDefaults();
        std::remove(logFile_.c_str());
    }

    std::string logFile_;
};

struct CatalogueCase {
    int id;
    const char* text;
    const char* expected;
};

TEST_F(HostLog, FormatsThroughTheCatalogueOrFallsBack) {
    const CatalogueCase cases[] = {
        {4097, "Could not open file", "GRIDAPI-I-0001 Could not open file"},
        {kPercentEntryId, "the files", "GRIDAPI-I-0100 100% of the files"},
        // The text is data, never a format.
        {4097, "50%s done %d", "GRIDAPI-I-0001 50%s done %d"},
        {4100, "not in the catalogue", "GRIDAPI-?-4100 not in the catalogue"},
        {-7, "negative", "GRIDAPI-?--7 negative"},
    };
    for (const CatalogueCase& c : cases) {
        StravoHostControl::clearCapturedLogLines();
        StravoStorageApi::nonRecursiveLogShow(0, c.id, c.text);
        EXPECT_EQ(StravoHostControl::capturedLogLines(), std::vector<std::string>{c.expected}) << "id " << c.id;
    }
}

// A module that is not there falls back; an empty name means the program itself.
TEST_F(HostLog, ModuleNameChoosesTheCatalogue) {
    StravoHostControl::setMessageModule("NoSuchCatalogueModule.dll");
    StravoStorageApi::nonRecursiveLogShow(0, 4097, "plain");
    StravoHostControl::setMessageModule("");
    StravoStorageApi::nonRecursiveLogShow(0, 4098, "via the program");
    // On Windows the test program has no string table of its own; on Linux the catalogue library
    // was loaded with the program, so its lookup is in the global scope.
    const char* viaProgram = kWindows ? "GRIDAPI-?-4098 via the program" : "GRIDAPI-W-0002 via the program";
    EXPECT_EQ(StravoHostControl::capturedLogLines(), (std::vector<std::string>{"GRIDAPI-?-4097 plain", viaProgram}));
}

TEST_F(HostLog, TraceSwitchDropsOnlyTraceLines) {
    EXPECT_TRUE(logCheckTraceLevel(16385));
    StravoHostControl::setTrace(false);
    EXPECT_FALSE(logCheckTraceLevel(16385));
    EXPECT_FALSE(logCheckTraceLevel(16384));
    EXPECT_TRUE(logCheckTraceLevel(16383));
    EXPECT_TRUE(logCheckTraceLevel(4097));

    StravoStorageApi::nonRecursiveLogShow(0, 16385, "hidden");
    StravoStorageApi::nonRecursiveLogShow(0, 4098, "shown");
    EXPECT_EQ(StravoHostControl::capturedLogLines(), std::vector<std::string>{"GRIDAPI-W-0002 shown"});
    EXPECT_EQ(readLines(logFile_).size(), 1u);
}

// Each line of the file is the time, the thread and the text, whole however many threads write.
TEST_F(HostLog, ConcurrentLinesStayWholeWithTimeAndThread) {
    constexpr int threads = 4, perThread = 250;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) log_show(0, 4097, "worker %d line %d", t, i);
        });
    }
    for (std::thread& worker : workers) worker.join();

    const std::vector<std::string> lines = readLines(logFile_);
    ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
    const std::regex form(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \d+ GRIDAPI-I-0001 worker \d line \d+$)");
    for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, form)) << line;
    EXPECT_EQ(StravoHostControl::capturedLogLines().size(), static_cast<size_t>(threads * perThread));
}

TEST_F(HostLog, LoggingFromInsideALogCallDoesNotDeadlock) {
    StravoStorageApi::nonRecursiveLogShow(0, kReentrantEntryId, "outer");
    std::vector<std::string> expected{"GRIDAPI-I-0101 outer"};
    if (!kWindows) expected.insert(expected.begin(), "GRIDAPI-?-4202 from inside the lookup");
    EXPECT_EQ(StravoHostControl::capturedLogLines(), expected);
}

TEST_F(HostLog, CaptureCanBeSwitchedOffAndCleared) {
    StravoStorageApi::nonRecursiveLogShow(0, 4097, "kept");
    StravoHostControl::enableLogCapture(false);
    StravoStorageApi::nonRecursiveLogShow(0, 4097, "not kept");
    EXPECT_EQ(StravoHostControl::capturedLogLines(), std::vector<std::string>{"GRIDAPI-I-0001 kept"});
    EXPECT_EQ(readLines(logFile_).size(), 2u);
    StravoHostControl::clearCapturedLogLines();
    EXPECT_TRUE(StravoHostControl::capturedLogLines().empty());
}

TEST(HostFormatMessage, FormatsLikePrintf) {
    EXPECT_EQ(StravoUtilities::formatMessage("%s=%d (%05.1f)", "answer", 42, 3.14159), "answer=42 (003.1)");
    const std::string longText(3000, 'x');
    EXPECT_EQ(StravoUtilities::formatMessage("[%s]", longText.c_str()), "[" + longText + "]");
}

TEST(HostSystemEvents, AreCapturedWithSourceAndText) {
    StravoHostControl::resetToDefaults();
    const FileServicesError error("\\\\srv\\share\\a.dat", 64, "network name %s", "deleted");
    char data[] = "extra";
    StravoUtilities::WriteSystemEvent(error, "Stravo File Services", data, sizeof data);
    const std::vector<StravoHostControl::SystemEvent> events = StravoHostControl::capturedSystemEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, "Stravo File Services");
    EXPECT_EQ(events[0].text, error.what());
    StravoHostControl::clearCapturedSystemEvents();
    EXPECT_TRUE(StravoHostControl::capturedSystemEvents().empty());
}

}  // namespace
