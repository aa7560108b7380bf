// Links in the share that point at nothing. A creating call never makes what a link leading out
// points at, neither outside the share nor at the jail's "/"; a link that stays inside is followed.
#include <gtest/gtest.h>

#include <strings.h>

#include "Jail.h"

namespace {

using namespace security;

const std::string kShare = "/unc/srv/sh";

void buildShare(const std::string& root) {
    const std::string s = root + kShare;
    emptyDirectory(s);
    makeLink("/outside/new", s + "/dl");           // absolute, leads out
    makeLink("../../../outside/new2", s + "/dr");  // relative, leads out
    makeLink("missing-inside", s + "/din");        // stays inside
    makeLink("/nowhere", s + "/dm");               // on the way: dm\x
    writeFile(s + "/src.txt", "source");
}

constexpr DWORD kCreatesInside = 0x10000;    // succeeds, making the link's target in the share
constexpr DWORD kMayReplaceLink = 0x10001;   // fails, or succeeds by putting the file in the link's place
constexpr DWORD kRefusedOnTheWay = 0x10002;  // below a link leading out: 5 or 3

const char* const kSource = "\\\\srv\\sh\\src.txt";

const struct {
    const char* what;
    DWORD (*run)(const std::string& name);
    DWORD leadsOut;     // the answer for a link leading out
    DWORD staysInside;  // ... for the link that stays inside
} kCalls[] = {
    {"CreateDirectoryA", [](const std::string& n) { return answer(CreateDirectoryA(n.c_str(), nullptr)); }, 183, 183},
    {"CreateFileA CREATE_ALWAYS", [](const std::string& n) { return openAnswer(n, GENERIC_WRITE, CREATE_ALWAYS); }, 5,
     kCreatesInside},
    {"CreateFileA CREATE_NEW", [](const std::string& n) { return openAnswer(n, GENERIC_WRITE, CREATE_NEW); }, 80, 80},
    {"CreateFileA OPEN_ALWAYS", [](const std::string& n) { return openAnswer(n, GENERIC_WRITE, OPEN_ALWAYS); }, 5,
     kCreatesInside},
    {"CopyFileA", [](const std::string& n) { return answer(CopyFileA(kSource, n.c_str(), FALSE)); }, 5, kCreatesInside},
    {"MoveFileExA 0", [](const std::string& n) { return answer(MoveFileExA(kSource, n.c_str(), 0)); }, 183, 183},
    {"MoveFileExA REPLACE_EXISTING",
     [](const std::string& n) { return answer(MoveFileExA(kSource, n.c_str(), MOVEFILE_REPLACE_EXISTING)); },
     kMayReplaceLink, kMayReplaceLink},
    {"MoveFileExA COPY_ALLOWED",
     [](const std::string& n) { return answer(MoveFileExA(kSource, n.c_str(), MOVEFILE_COPY_ALLOWED)); }, 183, 183},
};

enum Kind { kLeadsOut, kStaysInside, kOnTheWay };
const struct {
    const char* name;  // below \\srv\sh
    const char* link;  // the link's own entry
    Kind kind;
} kNames[] = {
    {"dl", "dl", kLeadsOut},    {"DL", "dl", kLeadsOut},    {"Dl", "dl", kLeadsOut},
    {"dr", "dr", kLeadsOut},    {"DR", "dr", kLeadsOut},    {"din", "din", kStaysInside},
    {"dl\\x", "dl", kOnTheWay}, {"dm\\x", "dm", kOnTheWay}, {"DM\\x", "dm", kOnTheWay},
};

// Whether the link `link` was replaced by the moved source: one entry of that name (without
// regard to case) in the share, a file holding the source's content.
bool replacedByTheSource(const std::string& link) {
    std::vector<std::string> found;
    for (const auto& [path, what] : snapshot(kShare)) {
        if (strcasecmp(path.c_str(), link.c_str()) == 0) found.push_back(what);
    }
    return found.size() == 1 && found[0].rfind("file ", 0) == 0 && found[0].find("\"source\"") != std::string::npos;
}

TEST(DanglingLinkTest, CreatingCallsMakeNothingWhereALinkLeadsOut) {
    Jail jail;
    buildShare(jail.root());
    const Tree before = snapshot(jail.root(), {"unc/srv/sh"});
    JAIL_RUN(outcome, jail, "dangling links", 60, [](Probe& probe) {
        for (const auto& n : kNames) {
            for (const auto& call : kCalls) {
                buildShare("");
                const std::string row = cat(call.what, " on \\\\srv\\sh\\", n.name);
                const Tree was = snapshot("/", {"unc/srv/sh"});
                const DWORD got = call.run(cat("\\\\srv\\sh\\", n.name));
                for (const char* p : {"/dl", "/x", "/new", "/new2", "/outside/new", "/outside/new2", "/nowhere"}) {
                    probe.expect(!exists(p), cat(row, " made ", p, " in the jail"));
                }
                const Tree now = snapshot("/", {"unc/srv/sh"});
                probe.expect(now == was, cat(row, " changed the tree outside the share:\n", changes(was, now)));
                removeAdded("/", was, now);  // the next row starts clean
                const DWORD want = n.kind == kOnTheWay   ? kRefusedOnTheWay
                                   : n.kind == kLeadsOut ? call.leadsOut
                                                         : call.staysInside;
                if (want == kRefusedOnTheWay) {
                    probe.note(cat(row, ": error ", got));
                    probe.expect(got == 5 || got == 3, cat(row, ": answered ", got, ", not 5 or 3"));
                } else if (want == kCreatesInside) {
                    probe.expect(got == 0 && exists(kShare + "/missing-inside"),
                                 cat(row, ": answered ", got, ", not success making missing-inside in the share"));
                } else if (want == kMayReplaceLink) {
                    probe.note(cat(row, ": ", got ? cat("error ", got) : "succeeded"));
                    probe.expect(got != 0 || replacedByTheSource(n.link),
                                 cat(row, ": succeeded without putting the file in the link's place"));
                } else {
                    probe.expect(got == want, cat(row, ": answered ", got, ", not ", want));
                }
            }
        }
    });
    EXPECT_EQ(changes(before, snapshot(jail.root(), {"unc/srv/sh"})), "");
}

}  // namespace
