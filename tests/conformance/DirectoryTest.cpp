// Searching, directories, delete, copy, move, temporary names, free space and the shlwapi tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>
#include <vector>

#include "Conformance.h"

namespace {

using namespace conformance;
using gridtest::TestShare;

class DirectoryTest : public TestShare {
  protected:
    // One search and what it must find.
    struct FindRow {
        const char* pattern;
        std::set<std::string> names;
        DWORD error;  // 18 when names were found and the search ran to its end
        bool wineDiffers;
        // Wine's answer where it differs, when known (wineError 0: not checked under Wine).
        std::set<std::string> wineNames = {};
        DWORD wineError = 0;
    };
    // `difference`: the named Wine difference the rows that differ meet, if any.
    void expectFinds(std::initializer_list<FindRow> rows, WineDifference difference = WineDifference::Count) {
        for (const FindRow& row : rows) {
            SCOPED_TRACE(row.pattern);
            const bool wine = row.wineDiffers && underWine();
            if (wine && !row.wineError) continue;
            const auto got = findNames(path(row.pattern));
            const bool named = difference != WineDifference::Count;
            EXPECT_EQ(got.first, wine && named ? wineOr(difference, row.names, row.wineNames) : row.names);
            EXPECT_EQ(got.second, wine && named ? wineOr(difference, row.error, row.wineError) : row.error);
        }
    }
};

TEST_F(DirectoryTest, FindMatchesWin32Wildcards) {
    for (const char* f : {"a.txt", "b.TXT", "abc", "abc.d", "x.tar.gz"}) ASSERT_TRUE(writeFile(path(f), "abc"));
    ASSERT_TRUE(CreateDirectoryA(path("Sub").c_str(), nullptr));
    using Names = std::set<std::string>;
    const Names all{".", "..", "a.txt", "abc", "abc.d", "b.TXT", "Sub", "x.tar.gz"};
    expectFinds({
        {"*", all, ERROR_NO_MORE_FILES, false},
        {"*.*", all, ERROR_NO_MORE_FILES, false},
        {"*.txt", {"a.txt", "b.TXT"}, ERROR_NO_MORE_FILES, false},
        {"?.txt", {"a.txt", "b.TXT"}, ERROR_NO_MORE_FILES, false},
        {"abc.*", {"abc", "abc.d"}, ERROR_NO_MORE_FILES, false},
        {"A.TXT", {"a.txt"}, ERROR_NO_MORE_FILES, false},
        {"abc.", {"abc"}, ERROR_NO_MORE_FILES, false},
        // "*." finds the names without an extension; Wine ignores a trailing dot and finds all.
        {"*.", {".", "..", "abc", "Sub"}, ERROR_NO_MORE_FILES, true},
        {"nomatch*", {}, ERROR_FILE_NOT_FOUND, false},
        {"missing\\*", {}, ERROR_PATH_NOT_FOUND, false},
        // A file searched as a directory: Wine answers 123.
        {"a.txt\\*", {}, ERROR_DIRECTORY, true},
    });
}

// '<', '>' and '"' in a search pattern are the DOS wildcards of the file system's matcher: '<' any
// run that does not take the name's last dot, '>' one character (none before a dot or at the end),
// '"' a dot or the end of the name. A '|' is taken as written and no name holds one.
// Wine: WineDifference::DosWildcards ('<' and '"' plain characters, finding nothing here, '>'
// exactly one character).
TEST_F(DirectoryTest, FindTakesDosWildcards) {
    for (const char* f : {"a.txt", "ab.txt", "b.c.txt", "abc", "noext", "x.y.z"}) ASSERT_TRUE(writeFile(path(f), "x"));
    const DWORD none = ERROR_FILE_NOT_FOUND;
    expectFinds(
        {
            {"<.txt", {"a.txt", "ab.txt", "b.c.txt"}, ERROR_NO_MORE_FILES, true, {}, none},
            {"a>.txt", {"a.txt", "ab.txt"}, ERROR_NO_MORE_FILES, true, {"ab.txt"}, ERROR_NO_MORE_FILES},
            {"<", {"abc", "noext"}, ERROR_NO_MORE_FILES, true, {}, none},
            {"x\"y\"z", {"x.y.z"}, ERROR_NO_MORE_FILES, true, {}, none},
            {"noext\"", {"noext"}, ERROR_NO_MORE_FILES, true, {}, none},
            {"x\"y", {}, ERROR_FILE_NOT_FOUND, false},
            {"a|*", {}, ERROR_FILE_NOT_FOUND, false},
        },
        WineDifference::DosWildcards);
}

// The names a search reports are checked with the wildcards; here the sizes and times, which
// GetFileAttributesExA reports alike.
TEST_F(DirectoryTest, FindReportsSizesAndTimes) {
    ASSERT_TRUE(writeFile(path("data.bin"), std::string(1234, 'x')));
    ASSERT_TRUE(CreateDirectoryA(path("Sub").c_str(), nullptr));
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(path("data.bin").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FindClose(h);
    EXPECT_EQ(fd.nFileSizeLow, 1234u);
    EXPECT_EQ(fd.nFileSizeHigh, 0u);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(path("data.bin").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(ticks(data.ftLastWriteTime), ticks(fd.ftLastWriteTime));
    // FILETIMEs count 100 ns from 1601: anything written now lies after 2020.
    EXPECT_GT(ticks(fd.ftLastWriteTime), 132223104000000000ull);

    h = FindFirstFileA(path("S*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FindClose(h);
    EXPECT_EQ(fd.nFileSizeLow, 0u);

    EXPECT_EQ(outcomeOf([&] { return GetFileAttributesExA(path("data.bin").c_str(), GetFileExMaxInfoLevel, &data); }),
              failsWith(ERROR_INVALID_PARAMETER));
}

// However a client spells a share itself, the recursive removal refuses it before touching anything.
TEST_F(DirectoryTest, ARecursiveRemovalOfAShareRootRemovesNothing) {
    ASSERT_TRUE(writeFile(path("kept"), "x"));
    const std::string share = gridtest::shareRoot();
    const std::string mine = dir().substr(share.size() + 1);
    const std::string bare = share.substr(2);  // gridtest\share
    std::string slashes = share;
    for (char& c : slashes) c = c == '\\' ? '/' : c;
    // One spelling per way of reading it (the attack table tries them all on the Linux build).
    for (const std::string& name :
         {share, share + "\\" + mine + "\\..", "\\\\?\\UNC\\" + bare + "\\..", slashes + "/./"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(outcomeOf([&] { return RemoveDirectoryTreeA(name.c_str()); }), failsWith(ERROR_ACCESS_DENIED));
        EXPECT_EQ(readFile(path("kept")), "x");
    }
}

// The creating and removing calls in order on one tree, one row per answer each call gives.
TEST_F(DirectoryTest, CreateAndRemoveDirectories) {
    ASSERT_TRUE(writeFile(path("file"), "x"));
    for (const char* d : {"open", "ro", "hidden"}) ASSERT_TRUE(CreateDirectoryA(path(d).c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesA(path("ro").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA(path("hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
    HandleCloser open{openFile(path("open"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS)};
    ASSERT_NE(open.h, INVALID_HANDLE_VALUE);
    std::wstring wide(dir().begin(), dir().end());
    wide += L"\\wide";
    const auto create = [this](const char* name) {
        return [this, name] { return CreateDirectoryA(path(name).c_str(), nullptr); };
    };
    const auto remove = [this](const char* name) {
        return [this, name] { return RemoveDirectoryA(path(name).c_str()); };
    };
    const auto erase = [this](const char* name) { return [this, name] { return DeleteFileA(path(name).c_str()); }; };
    const Outcome existing = differs(Difference::CreateDirectoryOnExisting, failsWith(ERROR_ALREADY_EXISTS),
                                     succeedsWith(ERROR_ALREADY_EXISTS));
    struct Row {
        const char* name;
        std::function<BOOL()> call;
        Outcome expected;
    };
    const Row rows[] = {
        {"create new", create("d"), kOk},
        {"create existing", create("d"), existing},
        {"create existing in another case", create("D"), existing},
        {"create over a file", create("file"), existing},
        {"create below a missing parent", create("missing\\d"), failsWith(ERROR_PATH_NOT_FOUND)},
        {"create nested", create("d\\e"), kOk},
        {"create with an invalid name", create("a|b"), failsWith(ERROR_INVALID_NAME)},
        {"create wide", [&] { return CreateDirectoryW(wide.c_str(), nullptr); }, kOk},
        {"remove not empty", remove("d"), failsWith(ERROR_DIR_NOT_EMPTY)},
        {"remove empty", remove("d\\e"), kOk},
        {"remove missing", remove("d\\e"), failsWith(ERROR_FILE_NOT_FOUND)},
        {"remove below a missing parent", remove("missing\\d"), failsWith(ERROR_PATH_NOT_FOUND)},
        {"remove a file", remove("file"), failsWith(ERROR_DIRECTORY)},
        {"remove emptied, in another case", remove("D"), kOk},
        {"remove one open without share delete", remove("open"), failsWith(ERROR_SHARING_VIOLATION)},
        // A folder whose read-only attribute is set is not removed (WineDifference::ReadOnlyFolderRemoved).
        {"remove read-only", remove("ro"),
         wineOr(WineDifference::ReadOnlyFolderRemoved, failsWith(ERROR_ACCESS_DENIED), kOk)},
        {"delete a directory", erase("hidden"), failsWith(ERROR_ACCESS_DENIED)},
        {"remove hidden", remove("hidden"), kOk},
        {"delete a file, in another case", erase("FILE"), kOk},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(outcomeOf(row.call), row.expected);
    }
    EXPECT_FALSE(exists(path("d")));
    EXPECT_TRUE(exists(path("wide")));
}

TEST_F(DirectoryTest, CopyFileCopiesDataAttributesAndTimes) {
    ASSERT_TRUE(writeFile(path("src"), "source data"));
    ASSERT_TRUE(writeFile(path("existing"), "old"));
    struct Row {
        const char* name;
        std::string to;
        BOOL failIfExists;
        Outcome expected;
        const char* contentAfter;
    };
    const Row rows[] = {
        {"to a new name", path("new"), TRUE, kOk, "source data"},
        {"onto an existing file, failing if it exists", path("existing"), TRUE, failsWith(ERROR_FILE_EXISTS), "old"},
        // A success leaves the last error alone, even where the target existed; Wine sets 0.
        {"onto an existing file", path("existing"), FALSE, underWine() ? succeedsWith(NO_ERROR) : kOkLeavesLastError,
         "source data"},
        {"into a missing directory", path("missing\\new"), FALSE, failsWith(ERROR_PATH_NOT_FOUND), nullptr},
        {"onto itself", path("src"), FALSE, failsWith(ERROR_SHARING_VIOLATION), "source data"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(outcomeOf([&] { return CopyFileA(path("src").c_str(), row.to.c_str(), row.failIfExists); }),
                  row.expected);
        if (row.contentAfter) {
            EXPECT_EQ(readFile(row.to), row.contentAfter);
        }
    }

    // A read-only source gives a read-only copy with the same write time.
    ASSERT_TRUE(SetFileAttributesA(path("src").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CopyFileA(path("src").c_str(), path("ro-copy").c_str(), TRUE));
    WIN32_FILE_ATTRIBUTE_DATA a, b;
    ASSERT_TRUE(GetFileAttributesExA(path("src").c_str(), GetFileExInfoStandard, &a));
    ASSERT_TRUE(GetFileAttributesExA(path("ro-copy").c_str(), GetFileExInfoStandard, &b));
    EXPECT_TRUE(b.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ticks(b.ftLastWriteTime), ticks(a.ftLastWriteTime));
    EXPECT_EQ(b.nFileSizeLow, 11u);

    // A source open without share read cannot be copied.
    HandleCloser locked{openFile(path("existing"), GENERIC_READ | GENERIC_WRITE, 0)};
    ASSERT_NE(locked.h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(outcomeOf([&] { return CopyFileA(path("existing").c_str(), path("x").c_str(), FALSE); }),
              failsWith(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(exists(path("x")));
}

TEST_F(DirectoryTest, MoveFileExRenamesAndReplaces) {
    ASSERT_TRUE(writeFile(path("a"), "A"));
    ASSERT_TRUE(writeFile(path("b"), "B"));
    ASSERT_TRUE(CreateDirectoryA(path("d").c_str(), nullptr));
    struct Row {
        const char* name;
        std::string from, to;
        DWORD flags;
        Outcome expected;
    };
    const Row rows[] = {
        {"onto an existing file", path("a"), path("b"), 0, failsWith(ERROR_ALREADY_EXISTS)},
        {"replacing an existing file", path("a"), path("b"), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, kOk},
        {"into a missing directory", path("b"), path("missing\\b"), 0, failsWith(ERROR_PATH_NOT_FOUND)},
        {"replacing a directory", path("b"), path("d"), MOVEFILE_REPLACE_EXISTING, failsWith(ERROR_ACCESS_DENIED)},
        {"into a directory", path("b"), path("d\\b"), MOVEFILE_COPY_ALLOWED, kOk},
        {"a directory", path("d"), path("e"), 0, kOk},
        {"to another case of its own name", path("e\\b"), path("e\\B"), 0, kOk},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(outcomeOf([&] { return MoveFileExA(row.from.c_str(), row.to.c_str(), row.flags); }), row.expected);
    }
    EXPECT_EQ(readFile(path("e\\b")), "A");
    EXPECT_FALSE(exists(path("a")));
    EXPECT_FALSE(exists(path("d")));
    // Wine keeps the old name when only its case changes; Windows takes the new one.
    EXPECT_EQ(findNames(path("e\\*")).first, (std::set<std::string>{".", "..", underWine() ? "b" : "B"}));
}

TEST_F(DirectoryTest, GetTempFileNameMakesUniqueFiles) {
    char name[MAX_PATH];
    const UINT first = GetTempFileNameA(dir().c_str(), "grd", 0, name);
    ASSERT_NE(first, 0u) << GetLastError();
    std::string n = name;
    EXPECT_EQ(n.substr(0, dir().size() + 4), dir() + "\\grd");
    std::string ext = n.substr(n.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    EXPECT_EQ(ext, ".tmp");
    EXPECT_TRUE(exists(n));

    char second[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(dir().c_str(), "grd", 0, second), 0u);
    EXPECT_NE(std::string(second), n);

    // With a number of its own the name is only formed.
    char fixed[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(dir().c_str(), "grd", 0xABC, fixed), 0xABCu);
    std::string f = fixed;
    std::transform(f.begin(), f.end(), f.begin(), ::tolower);
    EXPECT_EQ(f.substr(f.size() - 11), "\\grdabc.tmp");
    EXPECT_FALSE(exists(fixed));

    EXPECT_EQ(outcomeOf([&] { return GetTempFileNameA(path("missing").c_str(), "grd", 0, name) != 0; }),
              failsWith(ERROR_DIRECTORY));

    // A number of its own still needs a folder that is one: 267 for a file.
    ASSERT_TRUE(writeFile(path("file"), "x"));
    EXPECT_EQ(outcomeOf([&] { return GetTempFileNameA(path("file").c_str(), "grd", 0xABC, fixed) != 0; }),
              failsWith(ERROR_DIRECTORY));
}

// A folder is not renamed while a file deeper down is open without FILE_SHARE_DELETE.
TEST_F(DirectoryTest, MoveFileRefusesAFolderWithAnOpenFileBelow) {
    ASSERT_TRUE(CreateDirectoryA(path("d").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(path("d\\sub").c_str(), nullptr));
    ASSERT_TRUE(writeFile(path("d\\sub\\g"), "x"));
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HandleCloser h;
    ASSERT_EQ(openInto(h, path("d\\sub\\g"), GENERIC_WRITE, all | FILE_SHARE_DELETE), kOk);
    EXPECT_EQ(outcomeOf([&] { return MoveFileExA(path("d").c_str(), path("e").c_str(), 0); }), kOk);
    ASSERT_EQ(openInto(h, path("e\\sub\\g"), GENERIC_WRITE, all), kOk);
    EXPECT_EQ(outcomeOf([&] { return MoveFileExA(path("e").c_str(), path("d").c_str(), 0); }),
              wineOr(WineDifference::FolderRenamedOverOpenFile, failsWith(ERROR_ACCESS_DENIED), kOk));
}

TEST_F(DirectoryTest, DiskFreeSpaceIsReported) {
    ULARGE_INTEGER avail{}, total{}, freeBytes{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(dir().c_str(), &avail, &total, &freeBytes));
    EXPECT_GT(avail.QuadPart, 0u);
    EXPECT_LE(avail.QuadPart, freeBytes.QuadPart);
    EXPECT_LE(freeBytes.QuadPart, total.QuadPart);

    EXPECT_EQ(outcomeOf([&] { return GetDiskFreeSpaceExA(path("missing\\").c_str(), &avail, &total, &freeBytes); }),
              failsWith(ERROR_FILE_NOT_FOUND));
}

// PathFileExistsA reads names as every lookup does (PathTest); here what tells directories apart.
TEST_F(DirectoryTest, ShlwapiPathTests) {
    ASSERT_TRUE(writeFile(path("f"), "x"));
    ASSERT_TRUE(CreateDirectoryA(path("empty").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(path("full").c_str(), nullptr));
    ASSERT_TRUE(writeFile(path("full\\f"), "x"));
    const BOOL directory = differs<BOOL>(Difference::PathIsDirectoryValue, FILE_ATTRIBUTE_DIRECTORY, TRUE);
    const Outcome no = failsWith(kAnyError);
    struct Row {
        const char* name;
        BOOL isDirectory;
        Outcome isEmpty;  // PathIsDirectoryEmptyA
    };
    const Row rows[] = {
        {"f", FALSE, no},
        {"empty", directory, succeedsWith(ERROR_NO_MORE_FILES)},
        {"full", directory, no},
        {"missing", FALSE, failsWith(ERROR_FILE_NOT_FOUND)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PathIsDirectoryA(path(row.name).c_str()), row.isDirectory);
        EXPECT_EQ(outcomeOf([&] { return PathIsDirectoryEmptyA(path(row.name).c_str()); }), row.isEmpty);
    }
}

}  // namespace
