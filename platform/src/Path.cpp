// Win32 paths on a POSIX file system: parsing, the UNC root, the current directory and the
// case-insensitive lookup. docs/platform.md describes the rules.
#include "Internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

namespace gridplatform {
namespace {

constexpr std::size_t kMaxComponent = 255;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isInvalidNameChar(char c, bool allowWildcards) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32) return true;
    switch (c) {
        case '<':
        case '>':
        case ':':
        case '"':
        case '|':
            return true;
        case '*':
        case '?':
            return !allowWildcards;
        default:
            return false;
    }
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

bool isDriveSpec(std::string_view s) {
    return s.size() >= 2 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')) && s[1] == ':';
}

// Calls `f(component, isLast)` for each non-empty component of `s`.
template <typename F>
void forEachComponent(std::string_view s, F&& f) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n && isSeparator(s[i])) ++i;
    while (i < n) {
        std::size_t j = i;
        while (j < n && !isSeparator(s[j])) ++j;
        std::size_t k = j;
        while (k < n && isSeparator(s[k])) ++k;
        f(s.substr(i, j - i), k == n);
        i = k;
    }
}

std::vector<std::string_view> splitComponents(std::string_view s) {
    std::vector<std::string_view> out;
    forEachComponent(s, [&](std::string_view c, bool) { out.push_back(c); });
    return out;
}

bool isDot(std::string_view c) { return c.size() == 1 && c[0] == '.'; }
bool isDotDot(std::string_view c) { return c.size() == 2 && c[0] == '.' && c[1] == '.'; }

// Component rules as Win32 applies them: '.' and '..' are resolved lexically, a directory name
// loses one trailing dot, the last name loses all trailing dots and spaces. What the trimming
// leaves is judged again, so "..." on the way is "..", which stops at the share like any other:
// no part that reaches the POSIX side is ever "." or "..".
DWORD addComponent(std::string_view comp, bool lastComponent, bool allowWildcards, ParsedPath* out) {
    const bool last = lastComponent && !out->trailingSeparator;
    const auto dotOrDotDot = [out](std::string_view c) {
        if (isDotDot(c) && !out->parts.empty()) out->parts.pop_back();
        return isDot(c) || isDotDot(c);
    };
    if (dotOrDotDot(comp)) return 0;
    const bool wildcardsHere = allowWildcards && lastComponent;
    const bool pattern = wildcardsHere && comp.find_first_of("*?") != std::string_view::npos;
    if (last && !pattern) {  // a search pattern keeps its dots: "*." means names without one
        while (!comp.empty() && (comp.back() == '.' || comp.back() == ' ')) comp.remove_suffix(1);
        if (comp.empty()) {
            out->trailingSeparator = true;
            return 0;
        }
    } else if (!last && comp.back() == '.') {
        comp.remove_suffix(1);
        if (dotOrDotDot(comp)) return 0;
    }
    for (char c : comp) {
        if (isInvalidNameChar(c, wildcardsHere)) return ERROR_INVALID_NAME;
    }
    if (comp.size() > kMaxComponent) return ERROR_FILENAME_EXCED_RANGE;
    out->parts.emplace_back(comp);
    return 0;
}

std::string envOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : std::string(fallback);
}

std::string stripTrailingSlashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::mutex g_cwdMutex;
std::string g_cwd;  // empty until first use

// The name in `dir` that equals `name` without regard to ASCII case, or empty.
std::string findCaseVariant(const std::string& dir, const std::string& name, bool* opened = nullptr) {
    std::string match;
    DIR* d = opendir(dir.empty() ? "/" : dir.c_str());
    if (opened) *opened = d != nullptr;
    if (!d) return match;
    while (struct dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, name.c_str()) == 0) {
            match = e->d_name;
            break;
        }
    }
    closedir(d);
    return match;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.empty() ? "/" : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

const std::string& uncRoot() {
    static const std::string root = stripTrailingSlashes(envOr("GRIDAPI_UNC_ROOT", "/mnt/unc"));
    return root;
}

bool caselessLookups() {
    static const bool on = envOr("GRIDAPI_CASELESS", "1") != "0";
    return on;
}

ParsedPath parsePath(const char* path, const std::string& cwd, bool allowWildcards) {
    ParsedPath out;
    std::string_view p(path);
    std::string full;
    if (p.size() >= 4 && isSeparator(p[0]) && isSeparator(p[1]) && (p[2] == '?' || p[2] == '.') && isSeparator(p[3])) {
        // \\?\UNC\server\share is the long form of \\server\share; devices and drives do not exist here.
        std::string_view rest = p.substr(4);
        if (p[2] == '?' && startsWithNoCase(rest, "UNC") && rest.size() > 3 && isSeparator(rest[3])) {
            full = "\\\\" + std::string(rest.substr(4));
        } else {
            out.error = isDriveSpec(rest) ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME;
            return out;
        }
    } else if (isDriveSpec(p)) {
        out.error = ERROR_PATH_NOT_FOUND;  // no drive letters on this side
        return out;
    } else if (!p.empty() && isSeparator(p[0])) {
        // absolute: parsed in place
    } else {
        full = cwd;
        if (!full.empty() && !isSeparator(full.back())) full += '\\';
        full += p;
    }

    const std::string_view f = full.empty() ? p : std::string_view(full);
    const bool unc = f.size() >= 2 && isSeparator(f[0]) && isSeparator(f[1]);
    out.trailingSeparator = !f.empty() && isSeparator(f.back());
    int index = 0;
    forEachComponent(f, [&](std::string_view comp, bool last) {
        if (out.error) return;
        const int i = index++;
        if (unc && i < 2) {
            if (isDot(comp) || isDotDot(comp)) {
                out.error = ERROR_BAD_PATHNAME;
                return;
            }
            for (char c : comp) {
                if (isInvalidNameChar(c, false)) {
                    out.error = ERROR_INVALID_NAME;
                    return;
                }
            }
            (i == 0 ? out.server : out.share) = std::string(comp);
            return;
        }
        out.error = addComponent(comp, last, allowWildcards, &out);
    });
    if (unc) {
        out.kind = ParsedPath::Kind::Unc;
        if (!out.error && index < 2) out.error = ERROR_BAD_PATHNAME;
    }
    return out;
}

std::string posixFromParsed(const ParsedPath& parsed, const std::string& root) {
    std::string out;
    std::size_t size = root.size() + parsed.server.size() + parsed.share.size() + 4;
    for (const std::string& part : parsed.parts) size += part.size() + 1;
    out.reserve(size);
    if (parsed.kind == ParsedPath::Kind::Unc) {
        out.append(root).append(1, '/').append(parsed.server).append(1, '/').append(parsed.share);
    }
    for (const std::string& part : parsed.parts) {
        out += '/';
        out += part;
    }
    // A trailing separator stays: it makes the lookup fail for anything but a directory.
    if (out.empty() || (parsed.trailingSeparator && !parsed.parts.empty())) out += '/';
    return out;
}

std::string win32FromPosix(const std::string& posix, const std::string& root) {
    if (posix.size() > root.size() + 1 && posix.compare(0, root.size(), root) == 0 && posix[root.size()] == '/') {
        const std::vector<std::string_view> comps = splitComponents(std::string_view(posix).substr(root.size()));
        if (comps.size() >= 2) {
            std::string out = "\\";
            for (std::string_view c : comps) {
                out += '\\';
                out += c;
            }
            if (comps.size() == 2) out += '\\';  // a share's root keeps its separator, as a drive's does
            return out;
        }
    }
    return posix;
}

std::string currentDirectory() {
    std::lock_guard<std::mutex> lock(g_cwdMutex);
    if (g_cwd.empty()) {
        char buf[4096];
        g_cwd = getcwd(buf, sizeof buf) ? win32FromPosix(buf, uncRoot()) : std::string("/");
    }
    return g_cwd;
}

void setCurrentDirectory(const std::string& win32) {
    std::lock_guard<std::mutex> lock(g_cwdMutex);
    g_cwd = win32;
}

Target mapPath(const char* path, bool allowWildcards, std::size_t maxLength) {
    Target t;
    if (!path) {
        t.error = ERROR_PATH_NOT_FOUND;
        return t;
    }
    const std::size_t len = std::strlen(path);
    if (len > maxLength) {
        t.error = ERROR_FILENAME_EXCED_RANGE;
        return t;
    }
    if (len == 0) {
        t.error = ERROR_PATH_NOT_FOUND;
        return t;
    }
    const bool relative = !isSeparator(path[0]) && !isDriveSpec(path);
    t.parsed = parsePath(path, relative ? currentDirectory() : std::string(), allowWildcards);
    t.error = t.parsed.error;
    if (!t.error) {
        t.posix = posixFromParsed(t.parsed, uncRoot());
        if (t.parsed.kind == ParsedPath::Kind::Unc) t.error = checkInsideShare(t.posix);
    }
    return t;
}

namespace {

DWORD lookupCaselessWalk(const Target& target, std::string* found, std::string* parentFound, int exactErr) {
    const ParsedPath& pp = target.parsed;
    struct Step {
        const std::string* name;
        DWORD missing;
    };
    std::vector<Step> steps;
    std::string cur;
    if (pp.kind == ParsedPath::Kind::Unc) {
        cur = uncRoot();
        steps.push_back({&pp.server, ERROR_BAD_NETPATH});
        steps.push_back({&pp.share, ERROR_BAD_NET_NAME});
    }
    for (std::size_t i = 0; i < pp.parts.size(); ++i) {
        steps.push_back(
            {&pp.parts[i], i + 1 == pp.parts.size() ? DWORD(ERROR_FILE_NOT_FOUND) : DWORD(ERROR_PATH_NOT_FOUND)});
    }

    const bool scan = needsCaseScan(target.posix);
    std::size_t start = 0;
    // The exact path is known to be missing (ENOENT): its last name is, if its parent exists as written.
    const bool lastMissing = exactErr == ENOENT && !pp.trailingSeparator;
    // Usually only the last name differs: start from its parent when that exists as written.
    if (steps.size() >= 2) {
        std::string parent = cur;
        for (std::size_t i = 0; i + 1 < steps.size(); ++i) parent += '/' + *steps[i].name;
        if (lastMissing && scan) {
            // Scanning the parent also proves it exists: no separate lookup of it.
            bool opened = false;
            const std::string variant = findCaseVariant(parent, *steps.back().name, &opened);
            if (opened) {
                if (variant.empty()) {
                    if (parentFound) *parentFound = parent.empty() ? "/" : parent;
                    return steps.back().missing;
                }
                const std::string candidate = parent + '/' + variant;
                struct stat st;
                if (stat(candidate.c_str(), &st) != 0) return win32FromErrno(errno, ErrnoContext::Path);
                if (found) *found = candidate;
                return 0;
            }
        } else if (isDirectory(parent)) {
            cur = parent;
            start = steps.size() - 1;
        }
    }

    for (std::size_t i = start; i < steps.size(); ++i) {
        const bool last = i + 1 == steps.size();
        std::string candidate = cur + '/' + *steps[i].name;
        struct stat st;
        // The exact path was looked up already: its last name as written is missing.
        const bool knownMissing = last && lastMissing && i == start && start > 0;
        if (knownMissing || stat(candidate.c_str(), &st) != 0) {
            const int e = knownMissing ? ENOENT : errno;
            if (e == ENOTDIR) return ERROR_PATH_NOT_FOUND;
            if (e != ENOENT) return win32FromErrno(e, ErrnoContext::Path);
            const std::string variant = scan ? findCaseVariant(cur, *steps[i].name) : std::string();
            if (variant.empty()) {
                if (last && parentFound) *parentFound = cur.empty() ? "/" : cur;
                return steps[i].missing;
            }
            candidate = cur + '/' + variant;
            if (stat(candidate.c_str(), &st) != 0) return win32FromErrno(errno, ErrnoContext::Path);
        }
        if (!S_ISDIR(st.st_mode)) {
            if (!last) return ERROR_PATH_NOT_FOUND;
            if (pp.trailingSeparator) return ERROR_INVALID_NAME;
        }
        cur = std::move(candidate);
    }
    if (found) *found = cur.empty() ? "/" : cur;
    return 0;
}

// Whether `path` is `posix` or, with `parent`, its directory (mapPath checked those already).
bool sameAsMapped(const std::string& path, const std::string& posix, bool parent) {
    std::size_t n = posix.size();
    while (n > 1 && posix[n - 1] == '/') --n;
    if (parent) n = posix.rfind('/', n - 1);
    return n != std::string::npos && path.size() == n && posix.compare(0, n, path) == 0;
}

}  // namespace

// A name found under another case is a different path: it is checked against the share again.
DWORD lookupCaseless(const Target& target, std::string* found, std::string* parentFound, int exactErr) {
    std::string foundHere;
    std::string parentHere;
    const DWORD err = lookupCaselessWalk(target, &foundHere, &parentHere, exactErr);
    const std::string& reached = err == 0 ? foundHere : parentHere;
    if (!reached.empty() && !sameAsMapped(reached, target.posix, err != 0)) {
        if (const DWORD outside = checkInsideShare(reached)) return outside;
    }
    if (found) *found = std::move(foundHere);
    if (parentFound) *parentFound = std::move(parentHere);
    return err;
}

DWORD missingOrError(const Target& target, int err, std::string* found) {
    if (err != ENOENT && err != ENOTDIR) return win32FromErrno(err, ErrnoContext::Path);
    return lookupCaseless(target, found, nullptr, err);
}

DWORD resolveForCreate(const Target& target, std::string* path, bool* exists, int exactErr, FileInfo* existing) {
    int e = exactErr;
    if (!e) {
        // With `existing` the entry itself is looked at; a symbolic link is then followed as well to
        // decide, as for everyone else, whether the name exists.
        FileInfo info;
        e = statInfo(AT_FDCWD, target.posix.c_str(), existing ? AT_SYMLINK_NOFOLLOW : 0, &info);
        mode_t mode = info.mode;
        if (e == 0 && S_ISLNK(info.mode)) {
            FileInfo followed;
            e = statInfo(AT_FDCWD, target.posix.c_str(), 0, &followed);
            mode = followed.mode;
        }
        if (e == 0) {
            if (!S_ISDIR(mode) && target.parsed.trailingSeparator) return ERROR_INVALID_NAME;
            *path = target.posix;
            *exists = true;
            if (existing) *existing = info;
            return 0;
        }
    }
    if (e != ENOENT && e != ENOTDIR) return win32FromErrno(e, ErrnoContext::Path);
    std::string found;
    std::string parent;
    const DWORD err = lookupCaseless(target, &found, &parent, e);
    if (err == 0) {
        if (existing) {
            if (const int se = statInfo(AT_FDCWD, found.c_str(), AT_SYMLINK_NOFOLLOW, existing)) {
                return win32FromErrno(se, ErrnoContext::Path);
            }
        }
        *path = found;
        *exists = true;
        return 0;
    }
    if (err == ERROR_FILE_NOT_FOUND && !target.parsed.parts.empty()) {
        *path = (parent == "/" ? std::string() : parent) + '/' + target.parsed.parts.back();
        *exists = false;
        return 0;
    }
    return err;
}

}  // namespace gridplatform
