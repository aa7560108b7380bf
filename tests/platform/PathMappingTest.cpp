// Lexical mapping of Win32 names onto POSIX paths, and the search patterns.
#include <gtest/gtest.h>

#include "Internal.h"

namespace {

using gridplatform::parsePath;
using gridplatform::posixFromParsed;
using gridplatform::win32FromPosix;

// Separators, '.' and '..' components, the long form, relative names, "\\.\" names, a directory's
// trailing spaces and the characters Windows refuses are looked up for real in the scenario suite
// and in EscapeTest; these are the mapping's own corner cases.
TEST(PathMappingTest, NamesMapUnderTheUncRoot) {
    struct Row {
        const char* path;
        const char* cwd;
        const char* posix;  // null: fails with `error`
        DWORD error;
    };
    const Row rows[] = {
        {"\\\\srv\\sh\\a\\b.txt", "", "/r/srv/sh/a/b.txt", 0},
        {"\\\\srv\\sh", "", "/r/srv/sh", 0},
        {"\\\\srv\\sh\\dir\\", "", "/r/srv/sh/dir/", 0},
        {"\\\\srv\\sh\\a.\\b. .", "", "/r/srv/sh/a/b", 0},  // one dot off a directory, all off the name
        {"\\\\srv\\sh\\a..\\b", "", "/r/srv/sh/a./b", 0},
        {"/abs/path", "", "/abs/path", 0},
        {"rel", "/home/u", "/home/u/rel", 0},
        {"C:\\x", "", nullptr, ERROR_PATH_NOT_FOUND},
        {"\\\\?\\C:\\x", "", nullptr, ERROR_PATH_NOT_FOUND},
        {"\\\\srv", "", nullptr, ERROR_BAD_PATHNAME},
        {"\\\\srv\\sh\\a:b", "", nullptr, ERROR_INVALID_NAME},
        {"\\\\s|v\\sh\\a", "", nullptr, ERROR_INVALID_NAME},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const gridplatform::ParsedPath p = parsePath(row.path, row.cwd, false);
        if (row.posix) {
            ASSERT_EQ(p.error, 0u);
            EXPECT_EQ(posixFromParsed(p, "/r"), row.posix);
        } else {
            EXPECT_EQ(p.error, row.error);
        }
    }
    const std::string longName(256, 'n');
    EXPECT_EQ(parsePath(("\\\\s\\h\\" + longName).c_str(), "", false).error, ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(parsePath(("\\\\s\\h\\" + longName.substr(1)).c_str(), "", false).error, 0u);
}

TEST(PathMappingTest, PatternsTakeWildcardsOnlyInTheLastName) {
    EXPECT_EQ(parsePath("\\\\srv\\sh\\d*\\x", "", true).error, ERROR_INVALID_NAME);
}

TEST(PathMappingTest, SearchPatternsMatchAsOnWindows) {
    struct Row {
        const char* pattern;
        const char* name;
        bool matches;
    };
    // Most wildcards ('*', "*." and its dots, a trailing dot, case, a star across dots) are searched
    // for real in the scenario suite (DirectoryTest.FindMatchesWin32Wildcards); these are the rest.
    // match-fuzz holds the matcher to the plain backtracking one it replaced for any input; these rows
    // hold both to Windows's answers.
    const Row rows[] = {
        {"*.txt", "a.txt.bak", false},
        {"?.txt", "ab.txt", false},
        {"a?", "a", true},
        {"a??.txt", "a.txt", true},
        {"", "", true},
        {"*.b", "a.x.b", true},  // a star before a dot may run past all but the last dot
        {"x*.", "x.y", false},
        {"??", "a.", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " ~ " + row.name);
        EXPECT_EQ(gridplatform::matchesPattern(row.name, row.pattern), row.matches);
    }
    // Backtracking took minutes here; the matcher answers at once.
    std::string stars;
    for (int i = 0; i < 32; ++i) stars += "*a";
    EXPECT_FALSE(gridplatform::matchesPattern(std::string(200, 'a').c_str(), (stars + "*b").c_str()));
}

}  // namespace
