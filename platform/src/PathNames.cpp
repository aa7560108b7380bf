// Win32 names, parsed and measured without looking at the file system: separators, '.', '..',
// invalid names, the POSIX form under the UNC root and back. PathLookup.cpp maps a name with the
// current directory and finds its share. docs/platform.md describes the rules.
#include "Internal.h"

#include <strings.h>

#include <cstring>
#include <string_view>

namespace gridplatform {
namespace {

constexpr std::size_t kMaxComponent = 255;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isInvalidNameChar(char c, bool allowWildcards) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32) return true;
    switch (c) {
        case ':':
            return true;
        case '<':
        case '>':
        case '"':
        case '|':
        case '*':
        case '?':
            return !allowWildcards;  // a search pattern's wildcards (kWildcards)
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
    const bool pattern = wildcardsHere && comp.find_first_of(kWildcards) != std::string_view::npos;
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
std::size_t characters(std::string_view s) {
    std::size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;  // UTF-8 lead bytes
    return n;
}

}  // namespace

bool isRelativeName(const char* path) { return !isSeparator(path[0]) && !isDriveSpec(path); }

bool isLongForm(const char* path) {
    return isSeparator(path[0]) && isSeparator(path[1]) && path[2] == '?' && isSeparator(path[3]);
}

std::size_t fullNameLength(const ParsedPath& parsed) {
    std::size_t n = 0;
    if (parsed.kind == ParsedPath::Kind::Unc) n = 3 + characters(parsed.server) + characters(parsed.share);
    for (std::string_view part : parsed.parts) n += 1 + characters(part);
    if (n == 0 || (parsed.trailingSeparator && !parsed.parts.empty())) ++n;
    return n;
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

}  // namespace gridplatform
