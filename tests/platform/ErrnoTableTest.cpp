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

TEST(ErrnoTableTest, NetworkFailuresMapOntoCodesTheRetryRulesKnow) {
    struct Row {
        int err;
        ErrnoContext context;
        DWORD expected;
    };
    const Row rows[] = {
        {EIO, ErrnoContext::Io, ERROR_UNEXP_NET_ERR},
        {EIO, ErrnoContext::Path, ERROR_UNEXP_NET_ERR},
        {ENOTCONN, ErrnoContext::Io, ERROR_REM_NOT_LIST},
        {ECONNRESET, ErrnoContext::Io, ERROR_NETNAME_DELETED},
        {ECONNABORTED, ErrnoContext::Io, ERROR_NETNAME_DELETED},
        {ENETRESET, ErrnoContext::Io, ERROR_NETNAME_DELETED},
        {EHOSTDOWN, ErrnoContext::Path, ERROR_REM_NOT_LIST},
        {EHOSTUNREACH, ErrnoContext::Path, ERROR_BAD_NETPATH},
        {ENETUNREACH, ErrnoContext::Path, ERROR_BAD_NETPATH},
        {ETIMEDOUT, ErrnoContext::Io, ERROR_SEM_TIMEOUT},
        {EAGAIN, ErrnoContext::Io, ERROR_SEM_TIMEOUT},
        {EAGAIN, ErrnoContext::Lock, ERROR_LOCK_VIOLATION},
        {EAGAIN, ErrnoContext::Path, ERROR_SHARING_VIOLATION},
        {ESTALE, ErrnoContext::Io, ERROR_INVALID_HANDLE},
        {ESTALE, ErrnoContext::Path, ERROR_PATH_NOT_FOUND},
        {EREMCHG, ErrnoContext::Path, ERROR_NETNAME_DELETED},
        {EACCES, ErrnoContext::Lock, ERROR_LOCK_VIOLATION},
        {EACCES, ErrnoContext::Path, ERROR_ACCESS_DENIED},
        {EBUSY, ErrnoContext::Path, ERROR_SHARING_VIOLATION},
        {EEXIST, ErrnoContext::Path, ERROR_ALREADY_EXISTS},
        {ENOTEMPTY, ErrnoContext::Path, ERROR_DIR_NOT_EMPTY},
        {ENOENT, ErrnoContext::Path, ERROR_FILE_NOT_FOUND},
        {ENOTDIR, ErrnoContext::Path, ERROR_PATH_NOT_FOUND},
        {EILSEQ, ErrnoContext::Path, ERROR_INVALID_NAME},
        {EBADF, ErrnoContext::Io, ERROR_INVALID_HANDLE},
        {ENAMETOOLONG, ErrnoContext::Path, ERROR_FILENAME_EXCED_RANGE},
        {ENOSPC, ErrnoContext::Io, ERROR_DISK_FULL},
        {EXDEV, ErrnoContext::Path, ERROR_NOT_SAME_DEVICE},
        {12345, ErrnoContext::Io, ERROR_GEN_FAILURE},  // unknown: no retry rule applies
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.err);
        EXPECT_EQ(win32FromErrno(row.err, row.context), row.expected);
    }
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

// Every row of the code's table appears in docs/errno-table.md with the same three codes, and the
// document names no errno the code does not map.
TEST(ErrnoTableTest, DocumentedTableMatchesTheCode) {
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
    std::size_t count = 0;
    const gridplatform::ErrnoRow* table = gridplatform::errnoTable(&count);
    std::size_t compared = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (table[i].err == 0) continue;
        SCOPED_TRACE(table[i].name);
        auto it = documented.find(table[i].name);
        ASSERT_NE(it, documented.end()) << "not documented";
        EXPECT_EQ(it->second[0], table[i].path);
        EXPECT_EQ(it->second[1], table[i].io);
        EXPECT_EQ(it->second[2], table[i].lock);
        ++compared;
    }
    EXPECT_EQ(documented.size(), compared) << "the document lists errnos the code does not map";
}

}  // namespace
