// How names are read: separators, '.', '..', trailing dots and spaces, case, bad and missing names,
// and the same answer from every call that looks a name up.
#include <gtest/gtest.h>

#include <vector>

#include "Conformance.h"

namespace {

using namespace conformance;
using gridtest::TestShare;

class PathTest : public TestShare {
  protected:
    void SetUp() override {
        TestShare::SetUp();
        ASSERT_TRUE(writeFile(path("File.txt"), "x"));
        ASSERT_TRUE(CreateDirectoryA(path("Sub").c_str(), nullptr));
    }
};

// What a lookup of a name finds: a file, a directory, or an error.
enum class Finds { File, Directory, Error };

struct NameRow {
    const char* name;
    std::string path;
    Finds finds;
    DWORD error;  // when nothing is found
    bool wineDiffers;
    DWORD wineLookupError = 0;  // what Wine's attribute lookups answer instead, where they differ
};

std::vector<NameRow> nameRows(const std::string& dir) {
    const std::string server = gridtest::shareRoot().substr(0, gridtest::shareRoot().find('\\', 2));
    return {
        {"exact name", dir + "\\File.txt", Finds::File, 0, false},
        {"other case", dir + "\\fILE.TXT", Finds::File, 0, false},
        {"other case of a directory on the way", dir + "\\SUB\\..\\file.txt", Finds::File, 0, false},
        {"trailing dots and spaces", dir + "\\File.txt. . ", Finds::File, 0, false},
        {"dot components", dir + "\\.\\Sub\\.\\..\\File.txt", Finds::File, 0, false},
        {"doubled separators", dir + "\\\\Sub\\\\..\\\\File.txt", Finds::File, 0, false},
        {"forward slashes", dir + "/Sub/../File.txt", Finds::File, 0, false},
        {"directory", dir + "\\Sub", Finds::Directory, 0, false},
        {"directory with trailing separator", dir + "\\Sub\\", Finds::Directory, 0, false},
        // Wine's CreateFileA answers 123 as Windows does, its attribute lookups 3.
        {"file with trailing separator", dir + "\\File.txt\\", Finds::Error, ERROR_INVALID_NAME, false,
         ERROR_PATH_NOT_FOUND},
        {"missing file", dir + "\\missing.txt", Finds::Error, ERROR_FILE_NOT_FOUND, false},
        {"missing directory on the way", dir + "\\missing\\File.txt", Finds::Error, ERROR_PATH_NOT_FOUND, false},
        {"file as a directory on the way", dir + "\\File.txt\\x", Finds::Error, ERROR_PATH_NOT_FOUND, false},
        {"'<' in the name", dir + "\\a<b", Finds::Error, ERROR_INVALID_NAME, false},
        // Wine maps \\server\share onto a directory tree and cannot tell a missing server or share
        // from a missing directory; Windows answers 53 and 67.
        {"missing share", server + "\\nosuchshare\\f", Finds::Error, ERROR_BAD_NET_NAME, true},
        {"missing server", "\\\\nosuchserver\\share\\f", Finds::Error, ERROR_BAD_NETPATH, true},
    };
}

TEST_F(PathTest, EveryLookupReadsANameTheSameWay) {
    for (const NameRow& row : nameRows(dir())) {
        SCOPED_TRACE(row.name);
        if (row.wineDiffers && underWine()) continue;
        const char* p = row.path.c_str();
        const Outcome found = row.finds == Finds::Error ? failsWith(row.error) : kOk;
        const Outcome lookedUp = underWine() && row.wineLookupError ? failsWith(row.wineLookupError) : found;

        DWORD attrs = 0;
        EXPECT_EQ(outcomeOf([&] { return (attrs = GetFileAttributesA(p)) != INVALID_FILE_ATTRIBUTES; }), lookedUp);
        if (row.finds != Finds::Error) {
            EXPECT_EQ((attrs & FILE_ATTRIBUTE_DIRECTORY) != 0, row.finds == Finds::Directory);
        }
        WIN32_FILE_ATTRIBUTE_DATA data;
        EXPECT_EQ(outcomeOf([&] { return GetFileAttributesExA(p, GetFileExInfoStandard, &data); }), lookedUp);
        EXPECT_EQ(outcomeOf([&] { return PathFileExistsA(p); }), lookedUp);
        HandleCloser h;
        EXPECT_EQ(openInto(h, p, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS),
                  row.finds == Finds::Error ? failsWith(row.error) : succeedsWith(0));

        if (row.finds == Finds::Error) {
            // Calls that change a missing or malformed name fail the same way.
            EXPECT_EQ(outcomeOf([&] { return SetFileAttributesA(p, FILE_ATTRIBUTE_NORMAL); }), found);
            EXPECT_EQ(outcomeOf([&] { return DeleteFileA(p); }), found);
            EXPECT_EQ(outcomeOf([&] { return MoveFileExA(p, path("moved").c_str(), 0); }), found);
            EXPECT_EQ(outcomeOf([&] { return CopyFileA(p, path("copied").c_str(), FALSE); }), found);
            EXPECT_EQ(outcomeOf([&] { return PathIsDirectoryA(p); }), lookedUp);
        }
    }
    EXPECT_FALSE(exists(path("moved")));
    EXPECT_FALSE(exists(path("copied")));
}

// A name of `length` characters in full: the test's directory and one name of 'n's after it.
std::string nameOfLength(const std::string& dir, std::size_t length) {
    return dir + "\\" + std::string(length - dir.size() - 1, 'n');
}

// Windows measures the full name before it looks at its parts: 260 characters and more are
// refused (3), a folder to create from 248 characters on (206, room for an 8.3 name). The long form
// "\\?\UNC\..." is not held to those. Wine: WineDifference::AnsiNameLength.
TEST_F(PathTest, LongNamesAreRefusedAsWindowsMeasuresThem) {
    using Call = BOOL (*)(const char*);
    const Call lookUp = [](const char* p) -> BOOL { return GetFileAttributesA(p) != INVALID_FILE_ATTRIBUTES; };
    const Call opening = [](const char* p) -> BOOL {
        return HandleCloser{openFile(p, GENERIC_READ, FILE_SHARE_READ)}.close();
    };
    const Call deleting = [](const char* p) { return DeleteFileA(p); };
    const Call search = [](const char* p) -> BOOL { return !findNames(p).first.empty(); };
    const Call newFolder = [](const char* p) -> BOOL { return CreateDirectoryA(p, nullptr) && RemoveDirectoryA(p); };
    struct Row {
        const char* name;
        Call call;
        std::size_t length;  // of the full name
        Outcome expected;
        Outcome wine;  // under WineDifference::AnsiNameLength (else the same)
    };
    const Outcome missing = failsWith(ERROR_FILE_NOT_FOUND), tooLong = failsWith(ERROR_PATH_NOT_FOUND),
                  overFolder = failsWith(ERROR_FILENAME_EXCED_RANGE);
    const Row rows[] = {
        {"attributes, 259 characters", lookUp, 259, missing, missing},
        {"attributes, 260 characters", lookUp, 260, tooLong, missing},
        {"open, 260 characters", opening, 260, tooLong, missing},
        {"delete, 260 characters", deleting, 260, tooLong, missing},
        {"search, 260 characters", search, 260, tooLong, missing},
        {"new folder, 247 characters", newFolder, 247, kOk, kOk},
        {"new folder, 248 characters", newFolder, 248, overFolder, kOk},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A name over 255 characters in one part is judged by its full length all the same.
        const std::string name = nameOfLength(dir(), row.length);
        ASSERT_EQ(name.size(), row.length);
        EXPECT_EQ(outcomeOf([&] { return row.call(name.c_str()); }),
                  wineOr(WineDifference::AnsiNameLength, row.expected, row.wine));
    }
}

// The long form reaches names of any length: a folder and a file over 260 characters.
TEST_F(PathTest, TheLongFormReachesLongerNames) {
    const std::string folder = "\\\\?\\UNC\\" + dir().substr(2) + "\\" + std::string(250, 'd');
    const std::string file = folder + "\\f.txt";
    const Outcome over260 = wineOr(WineDifference::AnsiNameLength, kOk, failsWith(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(outcomeOf([&] { return CreateDirectoryA(folder.c_str(), nullptr); }), over260);
    HandleCloser h;
    EXPECT_EQ(openInto(h, file, GENERIC_WRITE, 0, CREATE_NEW),
              wineOr(WineDifference::AnsiNameLength, succeedsWith(0), failsWith(ERROR_FILENAME_EXCED_RANGE)));
    h.close();
    EXPECT_EQ(outcomeOf([&] { return DeleteFileA(file.c_str()); }), over260);
    EXPECT_EQ(outcomeOf([&] { return RemoveDirectoryA(folder.c_str()); }), over260);
}

TEST_F(PathTest, CaseInsensitiveNamesNeverCreateASecondFile) {
    struct Row {
        const char* name;
        const char* path;
        DWORD disposition;
        Outcome expected;
    };
    const Row rows[] = {
        {"create new of another case", "FILE.TXT", CREATE_NEW, failsWith(ERROR_FILE_EXISTS)},
        {"open always of another case", "file.txt", OPEN_ALWAYS, succeedsWith(ERROR_ALREADY_EXISTS)},
        {"create new in a directory of another case", "sub\\new", CREATE_NEW, succeedsWith(0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HandleCloser h;
        EXPECT_EQ(openInto(h, path(row.path), GENERIC_WRITE, 0, row.disposition), row.expected);
    }
    // The directory holds the one file and the one directory it started with.
    EXPECT_EQ(findNames(path("*")).first.size(), 4u);  // ".", "..", File.txt, Sub
    EXPECT_TRUE(exists(path("Sub\\new")));
}

TEST_F(PathTest, RelativeNamesFollowTheCurrentDirectory) {
    char saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(dir().c_str()));

    char cwd[MAX_PATH];
    const DWORD len = GetCurrentDirectoryA(MAX_PATH, cwd);
    EXPECT_EQ(std::string(cwd, len), dir());
    // Too small a buffer: the size needed, counting the terminating NUL, and the buffer untouched.
    char small[4] = "abc";
    EXPECT_EQ(GetCurrentDirectoryA(sizeof small, small), dir().size() + 1);
    EXPECT_STREQ(small, "abc");

    EXPECT_NE(GetFileAttributesA("File.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA(".\\Sub\\..\\File.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(writeFile("Sub\\rel.txt", "rel"));
    EXPECT_EQ(readFile(path("Sub\\rel.txt")), "rel");
    ASSERT_TRUE(SetCurrentDirectoryA("Sub"));
    EXPECT_EQ(readFile("rel.txt"), "rel");
    EXPECT_EQ(readFile("..\\File.txt"), "x");

    expectEach(
        {
            {"a file", path("File.txt"), failsWith(ERROR_DIRECTORY)},
            {"a missing directory", path("missing"), failsWith(ERROR_FILE_NOT_FOUND)},
            {"below a missing directory", path("missing\\x"), failsWith(ERROR_PATH_NOT_FOUND)},
        },
        SetCurrentDirectoryA);
    // The current directory is not removed.
    ASSERT_TRUE(CreateDirectoryA(path("cwd").c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("..\\cwd"));
    EXPECT_EQ(outcomeOf([&] { return RemoveDirectoryA(path("cwd").c_str()); }), failsWith(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(SetCurrentDirectoryA(saved));
    EXPECT_TRUE(RemoveDirectoryA(path("cwd").c_str()));
}

}  // namespace
