// Names that try to leave the share: whatever a client sends, nothing outside \\gridtest\share is
// read, written, deleted or listed. Decoys of the same name wait inside the share and one, two and
// three levels above it.
#include <gtest/gtest.h>

#include <dirent.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Conformance.h"
#include "FreshProcess.h"

namespace {

using namespace conformance;
using gridtest::TestShare;

std::string slurp(const std::string& posix) {
    std::ifstream in(posix);
    std::stringstream s;
    s << in.rdbuf();
    return in ? s.str() : "<missing>";
}

// The entries of `posixDir`, leaving out the decoys of escape tests running beside this one (their
// names hold another process's id): only what this process's calls could make is counted.
std::size_t entries(const std::string& posixDir, const std::string& ownDecoy) {
    std::size_t n = 0;
    if (DIR* d = opendir(posixDir.c_str())) {
        while (const struct dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            n += name.rfind("victim-", 0) != 0 || name.rfind(ownDecoy, 0) == 0;
        }
        closedir(d);
    }
    return n;
}

class EscapeTest : public TestShare {
  protected:
    void SetUp() override {
        TestShare::SetUp();
        const std::string root = std::getenv("GRIDAPI_UNC_ROOT");
        share_ = root + "/gridtest/share";
        outside_ = {root + "/gridtest", root, root.substr(0, root.rfind('/'))};
        victim_ = "victim-" + std::to_string(gridtest::processId()) + ".txt";
        for (const std::string& d : outside_) std::ofstream(d + "/" + victim_) << "outside";
        ASSERT_TRUE(writeFile(gridtest::shareRoot() + "\\" + victim_, "inside"));
        mine_ = share_ + '/' + dir().substr(dir().rfind('\\') + 1);
        ASSERT_EQ(symlink(root.c_str(), (mine_ + "/out").c_str()), 0);                     // absolute, out
        ASSERT_EQ(symlink("../..", (mine_ + "/up").c_str()), 0);                           // relative, out
        ASSERT_EQ(symlink((root + "/" + victim_).c_str(), (mine_ + "/file").c_str()), 0);  // a file out
        ASSERT_EQ(symlink(("../" + victim_).c_str(), (mine_ + "/in").c_str()), 0);         // stays inside
        // Directly in the share, where an attribute lookup needs no walk beneath the share.
        ASSERT_EQ(symlink(outside_[1].c_str(), (share_ + "/" + victim_ + ".out").c_str()), 0);
        ASSERT_EQ(symlink((outside_[1] + "/missing").c_str(), (share_ + "/" + victim_ + ".dangling").c_str()), 0);
    }
    void TearDown() override {
        for (const std::string& d : outside_) unlink((d + "/" + victim_).c_str());
        for (const char* link : {"/out", "/up", "/file", "/in"}) unlink((mine_ + link).c_str());
        // What the changing calls made of the decoy inside the share.
        for (const char* suffix : {"", ".new", ".copy", ".moved", ".moved.new", ".out", ".dangling"}) {
            unlink((share_ + "/" + victim_ + suffix).c_str());
        }
        rmdir((share_ + "/" + victim_ + ".dir").c_str());
        TestShare::TearDown();
    }
    std::string share_;
    std::string mine_;
    std::vector<std::string> outside_;
    std::string victim_;
};

TEST_F(EscapeTest, NoNameReachesOutsideTheShare) {
    const std::string s = gridtest::shareRoot() + "\\";
    const std::string d = dir().substr(s.size()) + "\\";
    const std::string& v = victim_;
    std::string deep;
    for (int i = 0; i < 70; ++i) deep += "...\\";
    struct Row {
        std::string name;
        std::string reads;  // the content read, or "<error N>"
    };
    const std::string refused = "<error 5>";
    const Row rows[] = {
        {s + "...\\" + v, "inside"},  // "..." on the way is ".." and stops at the share
        {s + "...\\...\\...\\" + v, "inside"},
        {s + d + "...\\...\\...\\...\\" + v, "inside"},
        {s + ". .\\..\\..\\" + v, "inside"},
        {s + "....\\..\\..\\" + v, "inside"},  // "...." on the way is the name "..."
        {s + ".. \\" + v, "<error 3>"},        // a directory keeps its spaces: ".. " is a name
        {s + "..\\..\\..\\" + v + ". . ", "inside"},
        {s + "../..\\/..//" + v, "inside"},
        {"\\\\?\\UNC\\gridtest\\share\\...\\...\\" + v, "inside"},
        {"//gridtest/share/.../.../" + v, "inside"},
        {"\\\\.\\gridtest\\share\\..\\" + v, "<error 123>"},
        {s + "C:\\..\\" + v, "<error 123>"},
        {s + outside_[1] + "/" + v, "<error 3>"},  // an absolute POSIX name after the share is inside it
        {s + deep + v, "inside"},                  // the full name counts, after its dots: short enough
        {s + d + "out\\" + v, refused},
        {s + d + "OUT\\" + v, refused},  // found under another case, judged again
        {s + d + "up\\" + v, refused},
        {s + d + "up\\...\\" + v, "<error 2>"},  // "..." takes "up" away lexically
        {s + d + "file", refused},
        {s + d + "in", "inside"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(readFile(row.name), row.reads);
    }

    // Changing calls neither write, delete nor create anything outside.
    std::vector<std::size_t> before;
    for (const std::string& o : outside_) before.push_back(entries(o, victim_));
    for (const Row& row : rows) {
        writeFile(row.name, "changed");
        writeFile(row.name + ".new", "new");
        CreateDirectoryA((row.name + ".dir").c_str(), nullptr);
        CopyFileA(row.name.c_str(), (row.name + ".copy").c_str(), FALSE);
        MoveFileExA(row.name.c_str(), (row.name + ".moved").c_str(), 0);
        DeleteFileA(row.name.c_str());
    }
    for (std::size_t i = 0; i < outside_.size(); ++i) {
        SCOPED_TRACE(outside_[i]);
        EXPECT_EQ(slurp(outside_[i] + "/" + v), "outside");
        EXPECT_EQ(entries(outside_[i], victim_), before[i]);
    }
}

// The attribute calls resolve a name in the call itself, a name directly in the share without a
// walk beneath it: a link there is judged as one further down.
TEST_F(EscapeTest, AttributesOfLinksLeadingOutAreRefusedAtEveryDepth) {
    const std::string s = gridtest::shareRoot() + "\\";
    struct Row {
        std::string name;
        DWORD error;  // 0: the attributes of what lies inside
    };
    const Row rows[] = {
        {s + victim_ + ".out", ERROR_ACCESS_DENIED},
        {s + victim_ + ".out\\" + victim_, ERROR_ACCESS_DENIED},
        {s + victim_ + ".dangling", ERROR_ACCESS_DENIED},
        {path("out"), ERROR_ACCESS_DENIED},
        {path("OUT\\" + victim_), ERROR_ACCESS_DENIED},
        {path("file"), ERROR_ACCESS_DENIED},
        {path("in"), 0},
        {s + victim_, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WIN32_FILE_ATTRIBUTE_DATA data;
        const BOOL ex = GetFileAttributesExA(row.name.c_str(), GetFileExInfoStandard, &data);
        EXPECT_EQ(ex ? 0u : GetLastError(), row.error);
        const DWORD attributes = GetFileAttributesA(row.name.c_str());
        EXPECT_EQ(attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0u, row.error);
        if (!row.error) {
            EXPECT_EQ(data.nFileSizeLow, 6u);  // "inside", not "outside"
        }
    }
}

// With GRIDAPI_WIDE_LINKS=1, read once per process: in a process of its own.
TEST_F(EscapeTest, WideLinksFollowLinksOutButNotDots) {
    if (!gridtest::inFreshProcess({{"GRIDAPI_WIDE_LINKS", "1"}})) return;
    const std::string s = gridtest::shareRoot() + "\\";
    EXPECT_EQ(readFile(path("out\\" + victim_)), "outside");
    EXPECT_EQ(readFile(path("file")), "outside");
    EXPECT_EQ(readFile(s + "...\\...\\" + victim_), "inside");
}

// Where openat2 is refused (a seccomp filter, as some container runtimes install, or a kernel before
// 5.6), names are walked one component at a time and no link is followed at all: the ones that lead
// out stay refused, and so is the one that stays inside. A forked child installs the filter, since
// it cannot be taken back.
TEST_F(EscapeTest, WithoutOpenat2NoLinkIsFollowed) {
    const std::string s = gridtest::shareRoot() + "\\";
    const std::string d = dir().substr(s.size()) + "\\";
    ASSERT_TRUE(CreateDirectoryA((dir() + "\\sub").c_str(), nullptr));
    ASSERT_TRUE(writeFile(dir() + "\\sub\\f.txt", "deeper"));
    const struct {
        std::string name;
        std::string reads;
    } rows[] = {
        {s + victim_, "inside"},
        {s + d + "sub\\f.txt", "deeper"},
        {s + d + "SUB\\F.TXT", "deeper"},
        {s + d + "out\\" + victim_, "<error 5>"},
        {s + d + "up\\" + victim_, "<error 5>"},
        {s + d + "file", "<error 5>"},
        {s + d + "in", "<error 5>"},
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
            _exit(100);
        }
        int wrong = 0;
        for (const auto& row : rows) {
            const std::string got = readFile(row.name);
            if (got != row.reads) {
                std::fprintf(stderr, "%s: read %s, expected %s\n", row.name.c_str(), got.c_str(), row.reads.c_str());
                ++wrong;
            }
        }
        _exit(wrong);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended with signal " << WTERMSIG(status);
    ASSERT_NE(WEXITSTATUS(status), 100) << "the seccomp filter could not be installed";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "rows read otherwise than expected (listed above)";
}

TEST_F(EscapeTest, SearchesListOnlyTheShare) {
    const std::string s = gridtest::shareRoot() + "\\";
    // Above the share lie "share" and "gridtest"; the share holds this test's directory.
    const std::string mine = dir().substr(s.size());
    for (const char* pattern : {"...\\...\\*", "...\\...\\...\\*.*", "..\\...\\*e"}) {
        SCOPED_TRACE(pattern);
        const auto names = findNames(s + pattern).first;
        EXPECT_EQ(names.count(mine), std::string(pattern).back() == '*');
        EXPECT_FALSE(names.count("share") || names.count("gridtest"));
    }
    EXPECT_EQ(findNames(path("out\\*")).second, DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(findNames(path("UP\\*")).second, DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(findNames(path("file")).second, DWORD(ERROR_ACCESS_DENIED));
    // Links that lead out are left out of a listing; the one that stays inside is listed.
    EXPECT_EQ(findNames(path("*")).first, (std::set<std::string>{".", "..", "in"}));
}

}  // namespace
