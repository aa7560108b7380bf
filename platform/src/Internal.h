// Internals of libGridPlatform shared by its translation units. The few functions marked
// GRIDPLATFORM_INTERNAL are exported for the platform's own unit tests and fuzz harnesses; nothing
// else uses them.
#pragma once

#include <platform/win32.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <boost/container/small_vector.hpp>
#include <boost/static_string/static_string.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#define GRIDPLATFORM_INTERNAL __attribute__((visibility("default")))

// Codes the public header does not name.
#define ERROR_BAD_PATHNAME 161L
#define ERROR_FILE_TOO_LARGE 223L
#define FILE_ATTRIBUTE_OFFLINE 0x00001000u
#define FILE_ATTRIBUTE_NOT_CONTENT_INDEXED 0x00002000u

namespace gridplatform {

// ---- last error -------------------------------------------------------------------------------

// Sets the calling thread's last error and returns `result`, for `return fail(FALSE, code);`.
template <typename T>
inline T fail(T result, DWORD code) {
    SetLastError(code);
    return result;
}

// ---- errno -> Win32 ---------------------------------------------------------------------------

// What kind of call produced the errno: some errnos mean different things to the caller by context
// (EAGAIN from a lock is a conflict, from a read it is a transient network condition).
enum class ErrnoContext { Path, Io, Lock };

struct ErrnoRow {
    int err;
    const char* name;
    DWORD path;
    DWORD io;
    DWORD lock;
};

GRIDPLATFORM_INTERNAL DWORD win32FromErrno(int err, ErrnoContext context);
GRIDPLATFORM_INTERNAL const ErrnoRow* errnoTable(std::size_t* count);
// The Win32 error of a call on a name that failed with `err`.
inline DWORD pathError(int err) { return win32FromErrno(err, ErrnoContext::Path); }

// ---- paths ------------------------------------------------------------------------------------

// The longest name a parsed path or its POSIX form may reach (the joined current directory and
// name for a relative one): longer gives 206. Both live in fixed buffers, so that mapping a name
// allocates nothing.
constexpr std::size_t kPathCapacity = 4096;
using PosixPath = boost::static_strings::static_string<kPathCapacity>;

struct ParsedPath {
    enum class Kind { Unc, Posix };
    ParsedPath() = default;
    // The views point into `text`: a copy points them into its own.
    ParsedPath(const ParsedPath& other) { *this = other; }
    ParsedPath& operator=(const ParsedPath& other);

    Kind kind = Kind::Posix;
    std::string_view server;  // Unc only
    std::string_view share;   // Unc only
    // Below the share (Unc) or below "/" (Posix), as views into `text`. Held in place up to 136
    // parts: a name under 260 characters never has more.
    boost::container::small_vector<std::string_view, 136> parts;
    bool trailingSeparator = false;  // the caller's path ended in '\' or '/'
    DWORD error = 0;                 // nonzero: the path is malformed (123, 206, 3, 161)

    // The components back to back, each copied once while parsing.
    char text[kPathCapacity];
    std::size_t textSize = 0;
};

// Lexical parsing of a Win32 path: separators, '.', '..', trailing dots and spaces, invalid names.
// A relative path is taken relative to `cwd` (a path in the same Win32 form GetCurrentDirectoryA
// returns). With `allowWildcards`, the wildcards (kWildcards) are accepted in the last component.
GRIDPLATFORM_INTERNAL ParsedPath parsePath(const char* path, std::string_view cwd, bool allowWildcards);

// The POSIX path the parsed path maps to, without any file-system lookup; false when it is longer
// than kPathCapacity.
bool writePosix(const ParsedPath& parsed, std::string_view uncRoot, PosixPath* out);
GRIDPLATFORM_INTERNAL std::string posixFromParsed(const ParsedPath& parsed, const std::string& uncRoot);

// The Win32 form of a POSIX directory: under the UNC root it becomes \\server\share\rest.
GRIDPLATFORM_INTERNAL std::string win32FromPosix(const std::string& posix, const std::string& uncRoot);

// Whether a name is relative: neither starts with a separator nor with a drive ("C:").
bool isRelativeName(const char* path);
// Whether `path` starts with the long form's prefix "\\?\" (either separator).
bool isLongForm(const char* path);
// The length in characters of the full Win32 name Windows forms before it looks a name up:
// \\server\share\a\b (or /a/b), with a trailing separator where the caller gave one.
std::size_t fullNameLength(const ParsedPath& parsed);

// The UNC root: $GRIDAPI_UNC_ROOT, or /mnt/unc. Read once.
const std::string& uncRoot();

// The current directory in Win32 form (see SetCurrentDirectoryA).
std::string currentDirectory();
// Sets the current directory (Win32 form) after the caller changed the process's POSIX one.
void setCurrentDirectory(const std::string& win32);

// What one statx() tells: everything GetFileAttributesExA and FindNextFileA report.
struct FileInfo {
    mode_t mode = 0;
    std::uint64_t size = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec atime {};
    struct timespec mtime {};
    struct timespec ctime {};
    struct timespec btime {};
    bool hasBtime = false;
};

// An open descriptor, closed when it goes.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// The directory every name of a share is resolved beneath: the share's own (kept open), or "/" for
// the host's own names. `beneath`: names may not leave it (a share, unless GRIDAPI_WIDE_LINKS=1).
struct ShareDir {
    explicit ShareDir(int f) : fd(f) {}
    ~ShareDir();
    ShareDir(const ShareDir&) = delete;
    ShareDir& operator=(const ShareDir&) = delete;
    const int fd;           // O_PATH | O_DIRECTORY
    bool caseless = false;  // its file system compares names without regard to case by itself
    bool beneath = true;    // resolved with RESOLVE_BENEATH
    bool isShare = true;    // false: the host's "/"
    // Its files take no notice of O_NONBLOCK (ext4, xfs, btrfs, tmpfs, f2fs): an open that used it
    // to keep a pipe from blocking need not clear it again.
    bool ignoresNonBlocking = false;
};

// A parsed path and where it lives on the POSIX side.
struct Target {
    ParsedPath parsed;
    PosixPath posix;
    // The directory the name resolves beneath (a share's, or "/"); set whenever `error` is 0.
    std::shared_ptr<const ShareDir> share;
    // Where the part below the share starts in `posix`.
    std::size_t belowShare = 0;
    DWORD error = 0;
    std::string_view posixView() const { return {posix.data(), posix.size()}; }
    // The name relative to the share's directory ("." for the share itself).
    const char* below() const;
    // Whether the name is the share itself (or "/"): never removed, moved or emptied.
    bool isShareRoot() const { return parsed.parts.empty(); }
};

// How long a name may be, as Windows measures its full form (without the "\\?\" prefix, which
// only the buffers limit, 206 beyond): `Name`, under MAX_PATH (260) characters, else 3; `Folder`,
// a folder to create, under kMaxFolderName (248) characters, else 206.
enum class NameLimit { Name, Folder };
constexpr std::size_t kMaxFolderName = MAX_PATH - 12;

// Parses `path` (null or empty -> 3, too long for `limit` -> 3 or 206), maps it and finds its share
// (a missing server 53, a missing share 67).
GRIDPLATFORM_INTERNAL Target mapPath(const char* path, bool allowWildcards = false, NameLimit limit = NameLimit::Name);
// Finds the share of a parsed and written target (Target::share, Target::belowShare, or the error).
void attachShare(Target* target);

// Opens `rel` (relative, without "." or ".." parts) beneath `share` with open(2) `flags`: where
// share.beneath, with openat2(RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS), so that a link that leads
// out of the share fails with EXDEV in the same walk that opens the file. -1 with errno set.
int openBeneath(const ShareDir& share, const char* rel, int flags, mode_t mode = 0);
// openBeneath() of the target's name as written.
int openTarget(const Target& target, int flags, mode_t mode = 0);
// statx() of `target` resolved beneath its share, following a final link or not; 0 or the errno
// (EXDEV: the name leads out of the share). A name directly in the share costs one statx(). With
// `stored`, the DOS attribute bits stored for the file are read too (see storedAttributes).
int statTarget(const Target& target, bool followLinks, FileInfo* info, DWORD* stored = nullptr);

// A name resolved beneath its share down to its parent directory, and its last component looked
// up in that directory (exactly, then without regard to case). Every call that changes a name acts
// through `parent` (mkdirat, unlinkat, renameat2, openat with O_NOFOLLOW | O_EXCL): nothing is
// resolved again from a path string, so a link swapped in on the way cannot take it elsewhere.
struct Entry {
    std::shared_ptr<const ShareDir> share;
    Fd ownParent;            // the parent's descriptor when it is not the share's own
    int parent = -1;         // the parent directory (O_PATH)
    PosixPath rel;           // the name below the share as found ("." for the share itself)
    std::size_t nameAt = 0;  // where the last component starts in `rel`
    bool exists = false;
    bool root = false;  // the share itself: no parent
    FileInfo info;      // the entry itself (a link not followed), when it exists
    const char* name() const { return rel.c_str() + nameAt; }
};

// Resolves `target` into `entry`. Returns 0 whether or not the
// last component exists, else the Win32 error: 3 a directory on the way is missing (or is a file),
// 5 the name leads out of the share, 123 a trailing separator after a file's name. `lastMissing`:
// the caller's own lookup of the whole name as written ended in ENOENT, so once the parent opens,
// the last component as written is known to be missing (a scan for another case still looks).
DWORD resolveEntry(const Target& target, Entry* entry, bool lastMissing = false);
// Opens the entry, following a final link only where it stays beneath the share.
int openEntry(const Entry& entry, int flags, mode_t mode = 0);

// Opens an existing name (as written, else found without regard to case) with `flags`, following
// links beneath the share. -1 with *error set (2 when it does not exist).
int openExisting(const Target& target, int flags, DWORD* error);
// An existing entry, resolved beneath its share and not followed if it is a link (2 when missing).
DWORD existingEntry(const Target& target, Entry* entry);
// An existing directory, open (O_PATH) beneath its share; -1 with *error (267 for a file).
int openDirectory(const Target& target, DWORD* error);

// Calls `visit` with the name of each entry of the directory `dirfd` (any descriptor of it, O_PATH
// too; "." and ".." left out) until it returns false; the directory is read with getdents64 into
// one buffer. 0, or the errno of the open or a read.
int readDirectory(int dirfd, const std::function<bool(const char* name)>& visit);

// Whether lookups fall back to a case-insensitive match ($GRIDAPI_CASELESS, default on).
bool caselessLookups();
// Whether a lookup that failed as written should scan the directory for a name differing in case:
// caselessLookups(), unless the share's file system is case-insensitive by itself (a CIFS/SMB mount,
// or a share directory with the case-folding flag), found out once per share.
bool needsCaseScan(const ShareDir& share);

// Whether symbolic links may lead out of a share ($GRIDAPI_WIDE_LINKS=1; default: refused).
bool wideLinks();

// "/proc/self/fd/<fd>[/<name>]": the file an open descriptor names (a link in the kernel, not a
// path resolved again), for the calls that take no descriptor (xattrs, chmod of an O_PATH one).
using ProcPath = boost::static_strings::static_string<32 + 256>;
ProcPath procPath(int fd, const char* name = nullptr);

// The characters that make a search pattern's last component a pattern: '*' and '?', the DOS
// wildcards '<', '>' and '"', and '|', which no name holds (the search finds nothing).
constexpr const char* kWildcards = "*?<>\"|";

// Whether `name` matches the search pattern `pattern` as FindFirstFileA matches it: without regard
// to case, '*' any run, '?' one character (or none before a dot or at the end), '.' before a
// wildcard or at the end also matching the end of the name, "*." names without a dot; '<' any run
// that does not take the name's last dot, '>' as '?', '"' a dot or the end of the name, '|' nothing.
GRIDPLATFORM_INTERNAL bool matchesPattern(const char* name, const char* pattern);

// ---- attributes and times ---------------------------------------------------------------------

// statx() relative to `dirfd` (AT_FDCWD for a path); returns 0 or the errno.
int statInfo(int dirfd, const char* path, int flags, FileInfo* info);
// statx() of an open descriptor.
int statFd(int fd, FileInfo* info);
// fstat() of an open descriptor: everything but the birth time (hasBtime stays false).
int fstatInfo(int fd, FileInfo* info);

// The attributes Windows reports for the file: `stored` is what storedAttributes() found (0: none
// stored; then files report ARCHIVE, directories DIRECTORY). Read-only comes from the write
// permission bits for files, from the stored bits for directories.
DWORD attributesOf(const FileInfo& info, DWORD stored = 0);
// The DOS attribute bits SetFileAttributesA stored in the extended attribute of the entry `name` of
// the directory `dirfd` (a link is not followed), or of `dirfd` itself when `name` is null; 0 when
// none are stored, or the file system keeps no extended attributes. `info` is the file's own
// statx() information: its change time validates a small per-process cache, so that a repeated
// lookup of an unchanged file costs no system call.
DWORD storedAttributes(int dirfd, const char* name, const FileInfo& info);
// Stores the settable DOS attribute bits of `attributes` for the open file `fd`. Returns 0, or the
// errno; a file system without extended attributes is not an error (nothing is stored).
int storeAttributes(int fd, DWORD attributes);
FILETIME filetimeFromTimespec(const struct timespec& ts);
// Creation time as Windows has it: the birth time where the file system keeps one, else the
// earlier of the change and modification times.
FILETIME creationTimeOf(const FileInfo& info);
inline bool isReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// ---- handles ----------------------------------------------------------------------------------

struct FileKey {
    dev_t dev;
    ino_t ino;
    bool operator==(const FileKey& o) const { return dev == o.dev && ino == o.ino; }
};

struct FileKeyHash {
    std::size_t operator()(const FileKey& k) const noexcept {
        return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(k.ino) * 1000003u ^
                                          static_cast<std::uint64_t>(k.dev));
    }
};

struct HandleObject {
    enum class Type { File, Find };
    explicit HandleObject(Type t) : type(t) {}
    virtual ~HandleObject() = default;
    // The descriptor of an open that keeps the folders above it from being renamed (a file or
    // folder opened without FILE_SHARE_DELETE) on device `dev`; -1 for any other.
    virtual int pinningFd(dev_t) const { return -1; }
    const Type type;
};

HANDLE insertHandle(std::shared_ptr<HandleObject> object);
// The object behind `handle` if it is open and of `type`; null otherwise.
std::shared_ptr<HandleObject> lookupHandle(HANDLE handle, HandleObject::Type type);
// Whether a handle of this process opened without FILE_SHARE_DELETE names something below the
// folder `name` of the directory `parent` (on device `dev`): Windows then refuses to rename the
// folder. Costs a look at every open handle, and one readlink() of /proc/self/fd for each one
// that pins folders on that device; nothing is kept per open.
bool openBelow(int parent, const char* name, dev_t dev);
// Removes `handle` if it is open and of `type`; returns the object or null.
std::shared_ptr<HandleObject> removeHandle(HANDLE handle, HandleObject::Type type);

// ---- share modes ------------------------------------------------------------------------------

// What an open takes part in: only opens for reading, writing or deleting are checked, as on Windows.
struct ShareAccess {
    bool read = false;
    bool write = false;
    bool del = false;
    DWORD share = 0;
    bool participates() const { return read || write || del; }
};

// Records an open of `key`; false when it conflicts with the opens already recorded.
bool shareAcquire(const FileKey& key, const ShareAccess& access);
void shareRelease(const FileKey& key, const ShareAccess& access);
// Whether every open of `key` allows deleting (or renaming) it.
bool shareAllowsDelete(const FileKey& key);
// Whether `key` is open at all by a handle that takes part in sharing.
bool shareIsOpen(const FileKey& key);

// ---- byte-range locks of this process's handles --------------------------------------------

// The locks every handle of the process holds, so that ReadFile/WriteFile can refuse a range
// another handle locked, as Windows does. `owner` identifies the handle.
void lockRegister(const FileKey& key, const void* owner, std::uint64_t offset, std::uint64_t length, bool exclusive);
void lockUnregister(const FileKey& key, const void* owner, std::uint64_t offset, std::uint64_t length, bool exclusive);
void lockUnregisterAll(const FileKey& key, const void* owner);
// Whether any handle of the process holds a lock (a cheap test for the I/O path).
bool anyLocks();
// Whether reading (or writing) [offset, offset+length) through `owner` meets a lock: another
// handle's exclusive lock blocks reads and writes, any shared lock blocks writes.
bool ioConflicts(const FileKey& key, const void* owner, std::uint64_t offset, std::uint64_t length, bool write);

// ---- files (used by CopyFileA and GetTempFileNameA) --------------------------------------------

// CreateFileA for a path already mapped. With `info`, the opened file's fstat() information
// (no birth time) is stored there.
HANDLE openFile(const Target& target, DWORD access, DWORD shareMode, DWORD disposition, DWORD flagsAndAttributes,
                FileInfo* info = nullptr);
// The descriptor behind a file handle, or -1.
GRIDPLATFORM_INTERNAL int fileDescriptor(HANDLE handle);

}  // namespace gridplatform
