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

// Adds what position `p` reaches without taking a character, with `i` the name's next index, then
// the same for every later position. Moves only go forward, so one pass gives the whole closure.
// The DOS rules of Windows (FsRtlIsNameInExpression with '?' as DOS_QM, '*' before '.' as
// DOS_STAR, '.' before a wildcard or at the end as DOS_DOT):
// - a run of '*' may match nothing; followed by '.', it may not end past the name's last dot;
// - '?' matches nothing at the end of the name or before a dot;
// - a DOS dot matches the end of the name.
void closure(const char* pat, std::size_t plen, const char* name, std::size_t nlen, std::size_t i,
             std::ptrdiff_t lastDot, char* active) {
    const char c = i < nlen ? name[i] : 0;
    for (std::size_t p = 0; p < plen; ++p) {
        if (!active[p]) continue;
        switch (pat[p]) {
            case '*': {
                std::size_t q = p;
                while (q < plen && pat[q] == '*') ++q;
                const bool dosStar = q < plen && pat[q] == '.';
                if (!dosStar || lastDot < 0 || static_cast<std::ptrdiff_t>(i) <= lastDot) active[q] = 1;
                break;
            }
            case '?':
                if (i == nlen || c == '.') active[p + 1] = 1;
                break;
            case '.':
                if (i == nlen && (p + 1 == plen || pat[p + 1] == '*' || pat[p + 1] == '?')) active[p + 1] = 1;
                break;
            default:
                break;
        }
    }
}

// The positions reached from `active` by taking name[i].
void step(const char* pat, std::size_t plen, char c, const char* active, char* next) {
    std::memset(next, 0, plen + 1);
    for (std::size_t p = 0; p < plen; ++p) {
        if (!active[p]) continue;
        switch (pat[p]) {
            case '*':
                next[p] = 1;  // a star takes any character; where it may stop is closure()'s rule
                break;
            case '?':
                if (c != '.') next[p + 1] = 1;
                break;
            case '.':
                if (c == '.') next[p + 1] = 1;
                break;
            default:
                if (sameChar(c, pat[p])) next[p + 1] = 1;
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

    // Two rows of pattern positions; on the stack for any pattern a name component can hold.
    char small[2][kMaxPatternOnStack + 1];
    std::vector<char> large;
    char* cur = small[0];
    char* next = small[1];
    if (plen > kMaxPatternOnStack) {
        large.resize(2 * (plen + 1));
        cur = large.data();
        next = cur + plen + 1;
    }
    std::memset(cur, 0, plen + 1);
    cur[0] = 1;
    for (std::size_t i = 0;; ++i) {
        closure(pattern, plen, name, nlen, i, lastDot, cur);
        if (i == nlen) return cur[plen] != 0;
        step(pattern, plen, name[i], cur, next);
        std::swap(cur, next);
    }
}

}  // namespace gridplatform
