// Copy, move and directory removal through the file-services object: what ends at once, and that no
// data is lost on the way. (How each retrying command retries and reports is the fault matrix's; that
// a recursive removal goes through the system-call table and is retried, the lost-answer rows'.)

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HostFixture.h"

#ifndef _WIN32
#include <unistd.h>

#include <cstdlib>
#endif

namespace {

class TreeCommandsTest : public gridtest::ServicesTest {
  protected:
    static std::string reportText() {
        const std::vector<StravoHostControl::SystemEvent> events = StravoHostControl::capturedSystemEvents();
        return events.size() == 1 ? events[0].text : "<" + std::to_string(events.size()) + " events>";
    }
};

TEST_F(TreeCommandsTest, ACopyOntoAnExistingTargetFailsOnlyWhenAskedWithExactlyOne) {
    const std::string from = path("from.txt");
    const std::string to = path("to.txt");
    writeFile(from, "new");
    writeFile(to, "old");

    EXPECT_EQ(FALSE, services_->CopyFileA(from.c_str(), to.c_str(), 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty()) << "80 has no rule";
    EXPECT_NE(std::string::npos, reportText().find("Could not Copy File to " + to + " on UNC")) << reportText();
    EXPECT_EQ("old", readFile(to));

    gridtest::resetHost();
    EXPECT_EQ(TRUE, services_->CopyFileA(from.c_str(), to.c_str(), 2));
    EXPECT_EQ("new", readFile(to));
    EXPECT_TRUE(lines().empty());
}

TEST_F(TreeCommandsTest, AMoveRetriesOnOneVerifiedMoveObject) {
    const std::string from = path("m1.txt");
    const std::string to = path("m2.txt");
    writeFile(from, "moved");
    StravoHostControl::failVerifiedMoves(ERROR_SHARING_VIOLATION, 2);

    EXPECT_EQ(TRUE, services_->MoveFileA(from.c_str(), to.c_str(), 0));

    const std::vector<const void*> attempts = StravoHostControl::verifiedMoveAttempts();
    ASSERT_EQ(3u, attempts.size());
    EXPECT_TRUE(attempts[0] == attempts[1] && attempts[1] == attempts[2]) << "one object for the whole run";
    EXPECT_EQ("moved", readFile(to));
    EXPECT_FALSE(exists(from));
    EXPECT_EQ("GRIDAPI-T-1111 File 'MoveFileEx' operation successfully completed.", lines().back());
}

TEST_F(TreeCommandsTest, AMoveOntoAnExistingTargetGivesTheWindowsAnswers) {
    const std::string from = path("x.txt");
    const std::string to = path("y.txt");
    writeFile(from, "x");
    writeFile(to, "y");
    StravoHostControl::setDatabaseSetting("NumRetriesOnFileAlreadyExists", 0);
    StravoHostControl::setDatabaseSetting("NumRetriesOnAccessDenied", 0);

    // Without MOVEFILE_REPLACE_EXISTING the target stays.
    EXPECT_EQ(FALSE, services_->MoveFileA(from.c_str(), to.c_str(), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ("y", readFile(to));

    // A read-only target is not replaced. (Wine as root replaces it: it keeps read-only as a missing
    // write permission, which root does not need.)
    ASSERT_TRUE(SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_READONLY));
    gridtest::resetHost();
    const BOOL moved = services_->MoveFileA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!moved || !gridtest::underWine()) {
        EXPECT_EQ(FALSE, moved);
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
        EXPECT_EQ("x", readFile(from));
        EXPECT_EQ("y", readFile(to));
    }
}

// A tree of 1,000 files, one of them held open without delete sharing.
TEST_F(TreeCommandsTest, ARecursiveRemovalWaitsForABlockerAndTouchesNothingOutside) {
    const std::string tree = path("tree");
    const std::string outside = path("outside");
    ASSERT_TRUE(CreateDirectoryA(tree.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(outside.c_str(), nullptr));
    writeFile(outside + "\\keep.txt", "keep");
    for (int d = 0; d < 10; ++d) {
        const std::string sub = tree + "\\d" + std::to_string(d);
        ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
        const std::string nested = sub + "\\n";
        ASSERT_TRUE(CreateDirectoryA(nested.c_str(), nullptr));
        for (int f = 0; f < 100; ++f) writeFile((f % 2 ? sub : nested) + "\\f" + std::to_string(f), "x");
    }
    const std::string blocker = tree + "\\d5\\n\\f42";
    HANDLE held = CreateFileA(blocker.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
#ifndef _WIN32
    // A link inside the tree to a directory outside it is removed as a link. (Wine shows such a
    // Unix link as a reparse point that it cannot delete, so this part runs on Linux.)
    const std::string root = std::getenv("GRIDAPI_UNC_ROOT");
    std::string posixTree = root + "/" + tree.substr(2);
    std::string posixOutside = root + "/" + outside.substr(2);
    for (std::string* p : {&posixTree, &posixOutside}) {
        for (char& c : *p) c = c == '\\' ? '/' : c;
    }
    ASSERT_EQ(0, ::symlink(posixOutside.c_str(), (posixTree + "/link").c_str()));
#endif

    int offered = 0;
    services_->setRetryWaiter([&](const StravoStorageApi::RetryStep& step) {
        ++offered;
        EXPECT_TRUE(exists(blocker));
        EXPECT_TRUE(CloseHandle(held));
        return step();
    });
    EXPECT_EQ(TRUE, services_->RemoveDirectoryA(tree.c_str(), 1));

    EXPECT_FALSE(exists(tree));
    EXPECT_EQ(1, offered);
    const std::vector<std::string> logged = lines();
    ASSERT_GE(logged.size(), 3u);
    EXPECT_EQ("GRIDAPI-I-0001 Error: 'Sharing Violation'. Retrying 16 times, waiting 5 seconds between retries.",
              logged[2]);
    EXPECT_EQ("keep", readFile(outside + "\\keep.txt"));
}

TEST_F(TreeCommandsTest, RecursiveAndPlainRemovalOfWhatIsNotThere) {
    const std::string file = path("file.txt");
    writeFile(file, "f");
    struct Case {
        const char* name;
        std::string path;
        int recursive;
        BOOL result;
        std::size_t sleeps;
    };
    const Case cases[] = {
        {"a missing path counts as removed", path("missing"), 1, TRUE, 0},
        {"so does an unreachable server, with -1", "\\\\no-such-server\\share\\dir", -1, TRUE, 0},
        {"a file is deleted, with 2", file, 2, TRUE, 0},
        {"the plain mode retries an unreachable server", "\\\\no-such-server\\share\\dir", 0, FALSE, 2},
    };
    for (const Case& c : cases) {
        gridtest::resetHost();
        // An unknown server is 53 here and 3 under Wine: both rules get two retries.
        StravoHostControl::setDatabaseSetting("NumRetriesOnBadNetPath", 2);
        StravoHostControl::setDatabaseSetting("NumRetriesOnPathNotFound", 2);
        EXPECT_EQ(c.result, services_->RemoveDirectoryA(c.path.c_str(), c.recursive)) << c.name;
        EXPECT_EQ(c.sleeps, StravoHostControl::recordedSleeps().size()) << c.name;
        EXPECT_EQ(c.result == TRUE, lines().empty()) << c.name;
    }
    EXPECT_FALSE(exists(file));
}

}  // namespace
