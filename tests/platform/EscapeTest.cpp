// Names that try to leave the share: whatever a client sends, nothing outside \\gridtest\share is
// read or listed. Decoys of the same name wait inside the share and one, two and three levels above
// it.
#include <gtest/gtest.h>

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
#include <string>
#include <vector>

#include "Conformance.h"
#include "FreshProcess.h"

namespace {

using namespace conformance;
using gridtest::TestShare;

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
    }
    void TearDown() override {
        for (const std::string& d : outside_) unlink((d + "/" + victim_).c_str());
        for (const char* link : {"/out", "/up", "/file", "/in"}) unlink((mine_ + link).c_str());
        unlink((share_ + "/" + victim_).c_str());
        TestShare::TearDown();
    }
    std::string share_;
    std::string mine_;
    std::vector<std::string> outside_;
    std::string victim_;
};

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
        {s + d + "SUB\\F.TXT", "deeper"},
        {s + d + "up\\" + victim_, "<error 5>"},
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

// Links that lead out are left out of a listing, and a search below one is refused; the one that
// stays inside is listed.
TEST_F(EscapeTest, SearchesListOnlyTheShare) {
    EXPECT_EQ(findNames(path("out\\*")).second, DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(findNames(path("*")).first, (std::set<std::string>{".", "..", "in"}));
}

}  // namespace
