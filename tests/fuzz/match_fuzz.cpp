// The search-pattern matcher against the plain backtracking matcher it replaced (exponential in the
// number of stars, so the inputs stay small here). Input: pattern, a NUL byte, name.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Internal.h"

namespace {

bool sameChar(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// The DOS rules written the obvious way: try every length for each star ('*', or '<' that may not
// take the name's last dot); '>' is '?', '"' a dot that may also match the end, '|' matches nothing.
bool reference(const char* n, const char* m, const char* lastDot) {
    for (;;) {
        const char c = *m;
        if (c == 0) return *n == 0;
        if (c == '*' || c == '<') {
            bool dosStar = c == '<';
            if (c == '*') {
                while (*m == '*') ++m;
                if (*m == 0) return true;
                dosStar = *m == '.';
            } else {
                ++m;
            }
            for (const char* k = n;; ++k) {
                if (reference(k, m, lastDot)) return true;
                if (*k == 0 || (dosStar && k == lastDot)) return false;  // a DOS star never takes the last dot
            }
        }
        if (c == '?' || c == '>') {
            if (*n != 0 && *n != '.') ++n;  // nothing at the end or before a dot
            ++m;
            continue;
        }
        if (c == '|') return false;  // no name holds one
        if (c == '.' || c == '"') {
            const bool dosDot = c == '"' || m[1] == 0 || m[1] == '*' || m[1] == '?';
            if (*n == '.') {
                ++n;
            } else if (!(*n == 0 && dosDot)) {
                return false;
            }
            ++m;
            continue;
        }
        if (*n == 0 || !sameChar(*n, c)) return false;
        ++n;
        ++m;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    if (split == std::string::npos || input.size() > 96) return 0;
    const std::string pattern = input.substr(0, split);
    const std::string name = input.substr(split + 1);
    if (name.find('\0') != std::string::npos) return 0;
    int stars = 0;
    for (char c : pattern) stars += c == '*' || c == '<';
    if (stars > 6) return 0;  // the reference backtracks
    const bool everything = pattern == "*" || pattern == "*.*";
    const bool expected = everything || reference(name.c_str(), pattern.c_str(), std::strrchr(name.c_str(), '.'));
    if (gridplatform::matchesPattern(name.c_str(), pattern.c_str()) != expected) std::abort();
    return 0;
}
