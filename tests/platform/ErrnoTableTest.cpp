// The errno table: what the retry rules get for each failure of a network file system, and that
// docs/errno-table.md says the same as the code.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "Internal.h"

namespace {

using gridplatform::ErrnoContext;
using gridplatform::win32FromErrno;

// Every row of the code's table appears in docs/errno-table.md with the same three codes, the
// lookup of its errno answers those codes by context, and the document names no errno the code
// does not map. Unknown errnos get no retry rule.
TEST(ErrnoTableTest, LookupsFollowTheDocumentedTableByContext) {
    std::ifstream doc(GRID_SOURCE_DIR "/docs/errno-table.md");
    ASSERT_TRUE(doc) << "docs/errno-table.md missing";
    std::map<std::string, std::array<unsigned long, 3>> documented;
    const std::regex row(R"(^\|\s*`?(E[A-Z0-9]+)`?\s*\|\s*(\d+)\s*\|\s*(\d+)\s*\|\s*(\d+)\s*\|)");
    std::string line;
    while (std::getline(doc, line)) {
        std::smatch m;
        if (std::regex_search(line, m, row)) {
            documented[m[1]] = {std::stoul(m[2]), std::stoul(m[3]), std::stoul(m[4])};
        }
    }
    std::size_t count = 0, compared = 0;
    const gridplatform::ErrnoRow* table = gridplatform::errnoTable(&count);
    ASSERT_GT(count, 20u);
    for (std::size_t i = 0; i < count; ++i) {
        if (table[i].err == 0) continue;
        SCOPED_TRACE(table[i].name);
        auto it = documented.find(table[i].name);
        ASSERT_NE(it, documented.end()) << "not documented";
        EXPECT_EQ(win32FromErrno(table[i].err, ErrnoContext::Path), it->second[0]);
        EXPECT_EQ(win32FromErrno(table[i].err, ErrnoContext::Io), it->second[1]);
        EXPECT_EQ(win32FromErrno(table[i].err, ErrnoContext::Lock), it->second[2]);
        ++compared;
    }
    EXPECT_EQ(documented.size(), compared) << "the document lists errnos the code does not map";
    EXPECT_EQ(win32FromErrno(EAGAIN, ErrnoContext::Io), DWORD(ERROR_SEM_TIMEOUT));
    EXPECT_EQ(win32FromErrno(EAGAIN, ErrnoContext::Lock), DWORD(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(win32FromErrno(EAGAIN, ErrnoContext::Path), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(win32FromErrno(12345, ErrnoContext::Io), DWORD(ERROR_GEN_FAILURE));
}

TEST(ErrnoTableTest, NoNetworkFailureBecomesACodeWithoutARetryRule) {
    // Wine turns most of these into 31 or 21, which no retry rule knows.
    const std::set<DWORD> known{ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED,  ERROR_ALREADY_EXISTS,
                                ERROR_DIR_NOT_EMPTY,     ERROR_SEM_TIMEOUT,    ERROR_BAD_NETPATH,
                                ERROR_NETNAME_DELETED,   ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND,
                                ERROR_UNEXP_NET_ERR,     ERROR_INVALID_NAME,   ERROR_REM_NOT_LIST,
                                ERROR_INVALID_HANDLE,    ERROR_BAD_NET_NAME,   ERROR_LOCK_VIOLATION};
    for (int err : {EIO, ENOTCONN, ECONNRESET, ECONNABORTED, ENETRESET, EHOSTDOWN, EHOSTUNREACH, ENETUNREACH, ETIMEDOUT,
                    EAGAIN, ESTALE, EREMCHG}) {
        for (ErrnoContext c : {ErrnoContext::Path, ErrnoContext::Io, ErrnoContext::Lock}) {
            SCOPED_TRACE(err);
            EXPECT_TRUE(known.count(win32FromErrno(err, c))) << win32FromErrno(err, c);
        }
    }
}

}  // namespace
