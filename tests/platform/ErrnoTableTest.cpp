// The errno table: what the retry rules get for each failure of a network file system, and that
// docs/errno-table.md says the same as the code.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <regex>
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
    EXPECT_EQ(win32FromErrno(12345, ErrnoContext::Io), DWORD(ERROR_GEN_FAILURE));
}

}  // namespace
