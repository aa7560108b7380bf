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

// Copies `comp` to the end of out->text; a null view when it does not fit.
std::string_view keep(std::string_view comp, ParsedPath* out) {
    if (comp.size() > sizeof out->text - out->textSize) return {};
    char* at = out->text + out->textSize;
    std::memcpy(at, comp.data(), comp.size());
    out->textSize += comp.size();
    return {at, comp.size()};
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
        if (isDotDot(c) && !out->parts.empty()) {
            out->textSize = static_cast<std::size_t>(out->parts.back().data() - out->text);
            out->parts.pop_back();
        }
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
    out->parts.push_back(keep(comp, out));
    return out->parts.back().data() ? 0 : DWORD(ERROR_FILENAME_EXCED_RANGE);
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
std::string findCaseVariant(const std::string& dir, std::string_view name, bool* opened = nullptr) {
    std::string match;
    DIR* d = opendir(dir.empty() ? "/" : dir.c_str());
    if (opened) *opened = d != nullptr;
    if (!d) return match;
    while (struct dirent* e = readdir(d)) {
        if (std::strlen(e->d_name) == name.size() && strncasecmp(e->d_name, name.data(), name.size()) == 0) {
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

ParsedPath& ParsedPath::operator=(const ParsedPath& other) {
    if (this == &other) return *this;
    std::memcpy(text, other.text, other.textSize);
    textSize = other.textSize;
    const auto rebase = [this, &other](std::string_view v) {
        return v.data() ? std::string_view(text + (v.data() - other.text), v.size()) : v;
    };
    kind = other.kind;
    server = rebase(other.server);
    share = rebase(other.share);
    parts.clear();
    for (std::string_view part : other.parts) parts.push_back(rebase(part));
    trailingSeparator = other.trailingSeparator;
    error = other.error;
    return *this;
}

ParsedPath parsePath(const char* path, std::string_view cwd, bool allowWildcards) {
    ParsedPath out;
    std::string_view p(path);
    // A relative name is read after the current directory's components, without joining the two.
    std::string_view head;
    if (p.size() >= 4 && isSeparator(p[0]) && isSeparator(p[1]) && (p[2] == '?' || p[2] == '.') && isSeparator(p[3])) {
        // \\?\UNC\server\share is the long form of \\server\share; devices and drives do not exist here.
        std::string_view rest = p.substr(4);
        if (p[2] == '?' && startsWithNoCase(rest, "UNC") && rest.size() > 3 && isSeparator(rest[3])) {
            head = "\\\\";
            p = rest.substr(4);
        } else {
            out.error = isDriveSpec(rest) ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME;
            return out;
        }
    } else if (isDriveSpec(p)) {
        out.error = ERROR_PATH_NOT_FOUND;  // no drive letters on this side
        return out;
    } else if (p.empty() || !isSeparator(p[0])) {
        head = cwd;
    }

    const std::string_view first = head.empty() ? p : head;
    const bool isUnc = first.size() >= 2 && isSeparator(first[0]) && isSeparator(first[1]);
    out.trailingSeparator = p.empty() ? !head.empty() && isSeparator(head.back()) : isSeparator(p.back());
    int index = 0;
    const auto component = [&](std::string_view comp, bool last) {
        if (out.error) return;
        const int i = index++;
        if (isUnc && i < 2) {
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
            (i == 0 ? out.server : out.share) = keep(comp, &out);
            return;
        }
        out.error = addComponent(comp, last, allowWildcards, &out);
    };
    if (!head.empty())
        forEachComponent(head, [&](std::string_view comp, bool last) { component(comp, last && p.empty()); });
    forEachComponent(p, component);
    if (isUnc) {
        out.kind = ParsedPath::Kind::Unc;
        if (!out.error && index < 2) out.error = ERROR_BAD_PATHNAME;
    }
    return out;
}

bool writePosix(const ParsedPath& parsed, std::string_view root, PosixPath* out) {
    std::size_t size = parsed.server.size() + parsed.share.size() + 4;
    if (parsed.kind == ParsedPath::Kind::Unc) size += root.size();
    for (std::string_view part : parsed.parts) size += part.size() + 1;
    if (size > out->max_size()) return false;
    out->clear();
    if (parsed.kind == ParsedPath::Kind::Unc) {
        out->append(root.data(), root.size()).push_back('/');
        out->append(parsed.server.data(), parsed.server.size()).push_back('/');
        out->append(parsed.share.data(), parsed.share.size());
    }
    for (std::string_view part : parsed.parts) {
        out->push_back('/');
        out->append(part.data(), part.size());
    }
    // A trailing separator stays: it makes the lookup fail for anything but a directory.
    if (out->empty() || (parsed.trailingSeparator && !parsed.parts.empty())) out->push_back('/');
    return true;
}

std::string posixFromParsed(const ParsedPath& parsed, const std::string& root) {
    PosixPath posix;
    return writePosix(parsed, root, &posix) ? std::string(posix.data(), posix.size()) : std::string();
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

namespace {

// The current directory, read once from the process when first needed. Call with g_cwdMutex held.
const std::string& currentDirectoryLocked() {
    if (g_cwd.empty()) {
        char buf[4096];
        g_cwd = getcwd(buf, sizeof buf) ? win32FromPosix(buf, uncRoot()) : std::string("/");
    }
    return g_cwd;
}

}  // namespace

std::string currentDirectory() {
    std::lock_guard<std::mutex> lock(g_cwdMutex);
    return currentDirectoryLocked();
}

void setCurrentDirectory(const std::string& win32) {
    std::lock_guard<std::mutex> lock(g_cwdMutex);
    g_cwd = win32;
}

Target mapPath(const char* path, bool allowWildcards, std::size_t maxLength, ShareCheck check) {
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
    if (!isSeparator(path[0]) && !isDriveSpec(path)) {
        // A copy of the current directory on the stack: nothing allocated, nothing held while parsing.
        char cwd[kPathCapacity];
        std::size_t cwdSize;
        {
            std::lock_guard<std::mutex> lock(g_cwdMutex);
            const std::string& current = currentDirectoryLocked();
            if (current.size() > sizeof cwd) {
                t.error = ERROR_FILENAME_EXCED_RANGE;
                return t;
            }
            cwdSize = current.size();
            std::memcpy(cwd, current.data(), cwdSize);
        }
        t.parsed = parsePath(path, std::string_view(cwd, cwdSize), allowWildcards);
    } else {
        t.parsed = parsePath(path, std::string_view(), allowWildcards);
    }
    t.error = t.parsed.error;
    if (t.error) return t;
    if (!writePosix(t.parsed, uncRoot(), &t.posix)) {
        t.error = ERROR_FILENAME_EXCED_RANGE;
        return t;
    }
    if (t.parsed.kind == ParsedPath::Kind::Unc) {
        attachShare(&t);
        // Without the share's open directory the call cannot resolve beneath it: checked here.
        if (check == ShareCheck::Now || !t.share) {
            t.error = checkInsideShare(t.posixString());
            t.checked = true;
        }
    }
    return t;
}

namespace {

DWORD lookupCaselessWalk(const Target& target, std::string* found, std::string* parentFound, int exactErr) {
    const ParsedPath& pp = target.parsed;
    struct Step {
        std::string_view name;
        DWORD missing;
    };
    std::vector<Step> steps;
    std::string cur;
    if (pp.kind == ParsedPath::Kind::Unc) {
        cur = uncRoot();
        steps.push_back({pp.server, ERROR_BAD_NETPATH});
        steps.push_back({pp.share, ERROR_BAD_NET_NAME});
    }
    for (std::size_t i = 0; i < pp.parts.size(); ++i) {
        steps.push_back(
            {pp.parts[i], i + 1 == pp.parts.size() ? DWORD(ERROR_FILE_NOT_FOUND) : DWORD(ERROR_PATH_NOT_FOUND)});
    }

    const bool scan = needsCaseScan(target);
    std::size_t start = 0;
    // The exact path is known to be missing (ENOENT): its last name is, if its parent exists as written.
    const bool lastMissing = exactErr == ENOENT && !pp.trailingSeparator;
    // Usually only the last name differs: start from its parent when that exists as written.
    if (steps.size() >= 2) {
        std::string parent = cur;
        for (std::size_t i = 0; i + 1 < steps.size(); ++i) parent.append(1, '/').append(steps[i].name);
        if (lastMissing && scan) {
            // Scanning the parent also proves it exists: no separate lookup of it.
            bool opened = false;
            const std::string variant = findCaseVariant(parent, steps.back().name, &opened);
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
        std::string candidate = cur;
        candidate.append(1, '/').append(steps[i].name);
        struct stat st;
        // The exact path was looked up already: its last name as written is missing.
        const bool knownMissing = last && lastMissing && i == start && start > 0;
        if (knownMissing || stat(candidate.c_str(), &st) != 0) {
            const int e = knownMissing ? ENOENT : errno;
            if (e == ENOTDIR) return ERROR_PATH_NOT_FOUND;
            if (e != ENOENT) return win32FromErrno(e, ErrnoContext::Path);
            const std::string variant = scan ? findCaseVariant(cur, steps[i].name) : std::string();
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

// Whether `path` is `posix` or, with `parent`, its directory (which mapPath may have checked already).
bool sameAsMapped(const std::string& path, std::string_view posix, bool parent) {
    std::size_t n = posix.size();
    while (n > 1 && posix[n - 1] == '/') --n;
    if (parent) n = posix.rfind('/', n - 1);
    return n != std::string::npos && path.size() == n && posix.compare(0, n, path) == 0;
}

}  // namespace

// A name found under another case is a different path: it is checked against the share again, as
// is the name as written when mapPath left the check to the call.
DWORD lookupCaseless(const Target& target, std::string* found, std::string* parentFound, int exactErr) {
    std::string foundHere;
    std::string parentHere;
    const DWORD err = lookupCaselessWalk(target, &foundHere, &parentHere, exactErr);
    const std::string& reached = err == 0 ? foundHere : parentHere;
    // A parent as written is inside when mapPath checked the name, or when the name's own lookup
    // beneath the share got as far as its last component (ENOENT, not EXDEV).
    const bool judged = target.checked || (err != 0 && exactErr == ENOENT);
    if (!reached.empty() && (!judged || !sameAsMapped(reached, target.posixView(), err != 0))) {
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
        e = statTarget(target, !existing, &info);
        mode_t mode = info.mode;
        if (e == 0 && S_ISLNK(info.mode)) {
            FileInfo followed;
            e = statTarget(target, true, &followed);
            mode = followed.mode;
        }
        if (e == EXDEV) return ERROR_ACCESS_DENIED;
        if (e == 0) {
            if (!S_ISDIR(mode) && target.parsed.trailingSeparator) return ERROR_INVALID_NAME;
            *path = target.posixString();
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
        *path = parent == "/" ? std::string() : parent;
        path->append(1, '/').append(target.parsed.parts.back());
        *exists = false;
        return 0;
    }
    return err;
}

}  // namespace gridplatform
