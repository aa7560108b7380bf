#include <StravoHost/Error.h>

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(HostFileServicesError, FormatsMessagePathAndCode) {
    const FileServicesError error(std::string("\\\\srv\\share\\file.dat"), 53, "cannot open %s after %d tries",
                                  "file.dat", 3);
    EXPECT_STREQ(error.what(), "cannot open file.dat after 3 tries (path '\\\\srv\\share\\file.dat', error 53)");
    EXPECT_EQ(error.code(), 53u);
    EXPECT_EQ(error.path(), "\\\\srv\\share\\file.dat");
    EXPECT_EQ(error.message(), "cannot open file.dat after 3 tries");
    // Copies keep everything.
    FileServicesError assigned(std::string("q"), 6, "other");
    assigned = FileServicesError(error);
    EXPECT_STREQ(assigned.what(), error.what());
    EXPECT_EQ(assigned.code(), 53u);
    EXPECT_EQ(assigned.path(), error.path());
}

TEST(HostFileServicesError, NarrowsAWidePathToUtf8) {
    const FileServicesError error(std::wstring(L"\\\\srv\\d\u00e9j\u00e0\\\u65e5.txt"), 2, "gone");
    EXPECT_EQ(error.path(), "\\\\srv\\d\xc3\xa9j\xc3\xa0\\\xe6\x97\xa5.txt");
    EXPECT_STREQ(error.what(), "gone (path '\\\\srv\\d\xc3\xa9j\xc3\xa0\\\xe6\x97\xa5.txt', error 2)");
}

TEST(HostFileServicesError, IsCaughtAsAStdExceptionWithItsText) {
    try {
        throw FileServicesError(std::string("x"), 4294967295u, "%s", "boom");
    } catch (const std::exception& caught) {
        EXPECT_STREQ(caught.what(), "boom (path 'x', error 4294967295)");
        const StravoUtilities::Error* base = dynamic_cast<const StravoUtilities::Error*>(&caught);
        ASSERT_NE(base, nullptr);
        EXPECT_EQ(base->code(), 4294967295u);
        return;
    }
    FAIL() << "nothing caught";
}

}  // namespace
