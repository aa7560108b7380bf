// The search-pattern matcher of FindFirstFileA. It runs the pattern as a set of positions over the
// name, one character at a time: O(name x pattern) steps, no recursion and no backtracking, so no
// pattern can make a search hang.
#include "Internal.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace gridplatform {
namespace {

constexpr std::size_t kMaxPatternOnStack = 256;

bool sameChar(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// What a pattern position stands for. Windows hands FindFirstFile's pattern to the file system with
// '?' as DOS_QM, '*' before '.' as DOS_STAR and '.' before a wildcard or at the end as DOS_DOT, and
// takes '<', '>' and '"' as written for DOS_STAR, DOS_QM and DOS_DOT (FsRtlIsNameInExpression).
enum Kind : char { kLiteral, kStar, kDosStar, kDosQm, kDosDot, kNever };

// The kind of every position, in one pass from the end (a run of '*' before '.' is DOS stars).
void classify(const char* pat, std::size_t plen, char* kinds) {
    bool beforeDot = false;  // the next character that is not '*' is '.'
    for (std::size_t p = plen; p-- > 0;) {
        switch (pat[p]) {
            case '*':
                kinds[p] = beforeDot ? kDosStar : kStar;
                continue;  // a run keeps what follows it
            case '<':
                kinds[p] = kDosStar;
                break;
            case '?':
            case '>':
                kinds[p] = kDosQm;
                break;
            case '.':
                kinds[p] = p + 1 == plen || pat[p + 1] == '*' || pat[p + 1] == '?' ? kDosDot : kLiteral;
                break;
            case '"':
                kinds[p] = kDosDot;
                break;
            case '|':
                kinds[p] = kNever;  // no name holds one on Windows
                break;
            default:
                kinds[p] = kLiteral;
                break;
        }
        beforeDot = pat[p] == '.';
    }
}

// Adds what position `p` reaches without taking a character, with `i` the name's next index and `c`
// the character there, then the same for every later position. Moves only go forward, so one pass
// gives the whole closure.
// - a star, DOS or not, may match nothing;
// - a DOS question mark matches nothing at the end of the name or before a dot;
// - a DOS dot matches the end of the name.
void closure(const char* kinds, std::size_t plen, std::size_t nlen, char c, std::size_t i, char* active) {
    for (std::size_t p = 0; p < plen; ++p) {
        if (!active[p]) continue;
        switch (kinds[p]) {
            case kStar:
            case kDosStar:
                active[p + 1] = 1;
                break;
            case kDosQm:
                if (i == nlen || c == '.') active[p + 1] = 1;
                break;
            case kDosDot:
                if (i == nlen) active[p + 1] = 1;
                break;
            default:
                break;
        }
    }
}

// The positions reached from `active` by taking `c`; `lastDot`: it is the name's last dot.
void step(const char* pat, const char* kinds, std::size_t plen, char c, bool lastDot, const char* active, char* next) {
    std::memset(next, 0, plen + 1);
    for (std::size_t p = 0; p < plen; ++p) {
        if (!active[p]) continue;
        switch (kinds[p]) {
            case kStar:
                next[p] = 1;
                break;
            case kDosStar:
                if (!lastDot) next[p] = 1;  // any character but the name's last dot
                break;
            case kDosQm:
                if (c != '.') next[p + 1] = 1;
                break;
            case kDosDot:
                if (c == '.') next[p + 1] = 1;
                break;
            case kLiteral:
                if (sameChar(c, pat[p])) next[p + 1] = 1;
                break;
            default:
                break;
        }
    }
}

}  // namespace

bool matchesPattern(const char* name, const char* pattern) {
    if (std::strcmp(pattern, "*.*") == 0 || std::strcmp(pattern, "*") == 0) return true;
    const std::size_t plen = std::strlen(pattern);
    const std::size_t nlen = std::strlen(name);
    const char* dot = std::strrchr(name, '.');
    const std::ptrdiff_t lastDot = dot ? dot - name : -1;

    // Two rows of pattern positions and the positions' kinds; on the stack for any pattern a name
    // component can hold.
    char small[3][kMaxPatternOnStack + 1];
    std::vector<char> large;
    char* cur = small[0];
    char* next = small[1];
    char* kinds = small[2];
    if (plen > kMaxPatternOnStack) {
        large.resize(3 * (plen + 1));
        cur = large.data();
        next = cur + plen + 1;
        kinds = next + plen + 1;
    }
    classify(pattern, plen, kinds);
    std::memset(cur, 0, plen + 1);
    cur[0] = 1;
    for (std::size_t i = 0;; ++i) {
        const char c = i < nlen ? name[i] : 0;
        closure(kinds, plen, nlen, c, i, cur);
        if (i == nlen) return cur[plen] != 0;
        step(pattern, kinds, plen, c, static_cast<std::ptrdiff_t>(i) == lastDot, cur, next);
        std::swap(cur, next);
    }
}

}  // namespace gridplatform
