// Copy and directory removal through the file-services object: the answers that only these commands
// give. (How each retrying command retries and reports is the fault matrix's, a move's retries through
// the host's verified move among them; a copy that may not replace its target, and a removal of a tree
// that is gone, the lost-answer rows'; a move onto an existing or a protected target, the scenario
// suite run through the object; a tree removal that stays inside its share, the attack table's.)

#include <string>

#include <gtest/gtest.h>

#include "HostFixture.h"

namespace {

class TreeCommandsTest : public gridtest::ServicesTest {};

// Only a fail-if-exists of exactly 1 refuses an existing target: any other value replaces it.
TEST_F(TreeCommandsTest, ACopyOntoAnExistingTargetFailsOnlyWhenAskedWithExactlyOne) {
    const std::string from = path("from.txt");
    const std::string to = path("to.txt");
    writeFile(from, "new");
    writeFile(to, "old");
    EXPECT_EQ(TRUE, services_->CopyFileA(from.c_str(), to.c_str(), 2));
    EXPECT_EQ("new", readFile(to));
    EXPECT_TRUE(lines().empty());
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
        {"an unreachable server counts as removed, with -1", "\\\\no-such-server\\share\\dir", -1, TRUE, 0},
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
