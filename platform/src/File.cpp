// File handles: CreateFileA, I/O, file pointer, size and byte-range locks.
#include "Internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <string_view>

namespace gridplatform {
namespace {

constexpr DWORD kReadAccess = GENERIC_READ | GENERIC_ALL | FILE_READ_DATA;
constexpr DWORD kWriteAccess = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kDeleteAccess = DELETE | GENERIC_ALL;

struct LockRange {
    std::uint64_t offset;
    std::uint64_t length;
    bool exclusive;
    std::uint64_t end() const { return offset + length; }  // callers keep offset + length from wrapping
    bool overlaps(std::uint64_t o, std::uint64_t len) const {
        return length && len && offset < o + len && o < offset + length;
    }
};

struct FileObject : HandleObject {
    FileObject() : HandleObject(Type::File) {}
    ~FileObject() override {
        if (fd >= 0) closeNow();
    }
    // Ends the handle's part in sharing and locking and closes the descriptor: 0, or close()'s errno.
    // The descriptor is gone either way (Linux never keeps one that close() failed on).
    int closeNow() {
        if (!locks.empty()) lockUnregisterAll(key, this);
        shareRelease(key, access);
        if (lockFd >= 0) ::close(lockFd);
        const int rc = ::close(fd);
        fd = -1;
        return rc == 0 || errno == EINTR ? 0 : errno;
    }
    int pinningFd(dev_t dev) const override { return key.dev == dev && !(access.share & FILE_SHARE_DELETE) ? fd : -1; }
    int fd = -1;
    // Where a write-only handle keeps its kernel locks: the kernel takes a shared lock only on a
    // descriptor that may read, so such a handle reopens its file for reading and writing once,
    // at its first lock (-1 until then, or where that is refused).
    int lockFd = -1;
    FileKey key{};
    ShareAccess access;
    bool directory = false;
    bool appendOnly = false;
    std::mutex lockMutex;  // guards `locks`, this handle's byte-range locks
    std::vector<LockRange> locks;
};

// A file handle's object, kept alive for the call: the table's reference, taken once, and no second
// one for the cast (each is an atomic increment and decrement on every transfer).
class FileRef {
  public:
    explicit FileRef(std::shared_ptr<HandleObject> keep) : keep_(std::move(keep)) {}
    FileObject* get() const { return static_cast<FileObject*>(keep_.get()); }
    FileObject* operator->() const { return get(); }
    FileObject& operator*() const { return *get(); }
    explicit operator bool() const { return keep_ != nullptr; }

  private:
    std::shared_ptr<HandleObject> keep_;
};

FileRef fileFrom(HANDLE h) { return FileRef(lookupHandle(h, HandleObject::Type::File)); }

DWORD ioError(int err) { return win32FromErrno(err, ErrnoContext::Io); }

// Where the kernel's byte-range locks end: off_t holds no larger offset.
constexpr std::uint64_t kKernelEnd = static_cast<std::uint64_t>(LLONG_MAX);

// The offset of an OVERLAPPED whose halves are both 0xFFFFFFFF: a write there appends.
constexpr std::uint64_t kWriteAtEnd = UINT64_MAX;

std::uint64_t join(DWORD low, DWORD high) { return (static_cast<std::uint64_t>(high) << 32) | low; }

// Sets this descriptor's kernel locks over [from, to) to what `locks` asks for: exclusive where an
// exclusive lock covers, shared where only shared ones do, none elsewhere. Open-file-description
// locks belong to the handle, as Win32 locks do; the list keeps Win32's stacking and exact unlock.
//
// The kernel takes off_t offsets, which end at 2^63 - 1 (kKernelEnd); Win32's run to 2^64. Everything
// from kKernelEnd on is one piece in the kernel, [kKernelEnd, end of file range): locked exclusive
// where an exclusive lock of this handle reaches into it, shared where only shared ones do. Another
// handle's lock there (in this process or another) meets it however far apart the two Win32 ranges
// lie: beyond 2^63 - 1 two handles' locks conflict unless both are shared.
bool applyKernelLocks(int fd, const std::vector<LockRange>& locks, std::uint64_t from, std::uint64_t to, bool wait,
                      int* err) {
    const std::uint64_t end = std::min(to, kKernelEnd);
    std::vector<std::uint64_t> cuts{std::min(from, kKernelEnd), end};
    for (const LockRange& l : locks) {
        if (!l.overlaps(from, to - from)) continue;
        if (l.offset > from && l.offset < end) cuts.push_back(l.offset);
        if (l.end() < end) cuts.push_back(l.end());
    }
    if (to > kKernelEnd) cuts.push_back(UINT64_MAX);  // the piece beyond, as one
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        const std::uint64_t a = cuts[i];
        const std::uint64_t b = cuts[i + 1];
        short type = F_UNLCK;
        for (const LockRange& l : locks) {
            if (!l.overlaps(a, b - a)) continue;
            if (l.exclusive) {
                type = F_WRLCK;
                break;
            }
            type = F_RDLCK;
        }
        struct flock fl {};
        fl.l_type = type;
        fl.l_whence = SEEK_SET;
        fl.l_start = static_cast<off_t>(a);
        fl.l_len = a >= kKernelEnd ? 0 : static_cast<off_t>(b - a);  // 0: to the end
        fl.l_pid = 0;
        int rc;
        do {
            rc = fcntl(fd, (wait && type != F_UNLCK) ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            *err = errno;
            return false;
        }
    }
    return true;
}

// Whether I/O through `f` meets a byte-range lock of this process. Only when some handle holds a
// lock does this cost anything (and a sequential transfer one lseek to learn where it starts).
bool lockedAgainst(const FileObject& f, bool atOffset, std::uint64_t offset, DWORD length, bool write) {
    if (!anyLocks() || length == 0) return false;
    if (write && f.appendOnly) {
        FileInfo info;  // an append starts at the end of the file
        if (statFd(f.fd, &info) != 0) return false;
        offset = info.size;
    } else if (!atOffset) {
        const off_t pos = ::lseek(f.fd, 0, SEEK_CUR);
        if (pos < 0) return false;
        offset = static_cast<std::uint64_t>(pos);
    }
    return ioConflicts(f.key, &f, offset, length, write);
}

// The descriptor that holds the handle's kernel locks (see FileObject::lockFd). Call with the
// handle's lockMutex not held; the first lock of a write-only handle opens it.
int kernelLockFd(FileObject& f) {
    if (f.access.read) return f.fd;
    std::lock_guard<std::mutex> lock(f.lockMutex);
    // The /proc entry reopens the handle's own file, not a name resolved again.
    if (f.lockFd < 0) f.lockFd = ::open(procPath(f.fd).c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    return f.lockFd >= 0 ? f.lockFd : f.fd;
}

// The error of an open: a name leading out of the share (the path column answers 5 for it), or a
// pipe or socket nobody reads, is refused.
DWORD openError(int err) { return err == ENXIO ? DWORD(ERROR_ACCESS_DENIED) : pathError(err); }

HANDLE openFailed(int fd, DWORD code) {
    if (fd >= 0) ::close(fd);
    return fail(INVALID_HANDLE_VALUE, code);
}

}  // namespace

int fileDescriptor(HANDLE handle) {
    auto f = fileFrom(handle);
    return f ? f->fd : -1;
}

HANDLE openFile(const Target& t, DWORD desiredAccess, DWORD shareMode, DWORD disposition, DWORD flags,
                FileInfo* infoOut) {
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING || (shareMode & ~7u)) {
        return fail(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    }
    ShareAccess access;
    access.read = desiredAccess & kReadAccess;
    access.write = desiredAccess & kWriteAccess;
    access.del = desiredAccess & kDeleteAccess;
    access.share = shareMode;
    const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (disposition == TRUNCATE_EXISTING && !(desiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA))) {
        return fail(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    }

    // Access is enforced from `access`; the descriptor is opened for what the calls will need.
    int oflags = O_CLOEXEC;
    if (access.write || truncates) {
        oflags |= access.read || truncates ? O_RDWR : O_WRONLY;
    } else {
        oflags |= O_RDONLY;
    }
    if (flags & FILE_FLAG_WRITE_THROUGH) oflags |= O_DSYNC;
    const bool appendOnly =
        (desiredAccess & FILE_APPEND_DATA) && !(desiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA));
    if (appendOnly) oflags |= O_APPEND;
    const mode_t createMode = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    const bool backup = flags & FILE_FLAG_BACKUP_SEMANTICS;

    // What exists is opened without blocking, so that a pipe or a device never holds the caller (it
    // is refused below); a file gets its blocking mode back once it is known to be one.
    const int existingFlags = oflags | O_NONBLOCK | O_NOCTTY;
    bool nonBlocking = true;
    // A directory opens only for reading (EISDIR otherwise), and only with backup semantics.
    const auto openExistingAt = [&](const char* rel) {
        nonBlocking = true;
        int opened = openBeneath(*t.share, rel, existingFlags, 0);
        if (opened < 0 && errno == EISDIR) {
            if (disposition == CREATE_ALWAYS ||
                (!backup && (disposition == OPEN_ALWAYS || disposition == CREATE_NEW))) {
                errno = EACCES;
                return -1;
            }
            opened = openBeneath(*t.share, rel, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK, 0);
        }
        return opened;
    };
    const bool creates = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    const bool scan = needsCaseScan(*t.share);
    int fd = -1;
    bool existed = true;
    for (int attempt = 0; fd < 0; ++attempt) {
        if (attempt == 4) return fail(INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION);  // the name keeps changing
        bool lastMissing = false;
        if (attempt == 0 && !t.parsed.trailingSeparator) {
            // The name as written first, beneath the share in the same call. Where no scan for
            // another case is needed (a case-insensitive share), O_EXCL alone decides whether a new
            // name exists.
            errno = ENOENT;
            if (disposition != CREATE_NEW) {
                fd = openExistingAt(t.below());
                if (fd >= 0) break;
                // Missing as written: once its parent opens, the name needs no second look there.
                lastMissing = errno == ENOENT;
            }
            if (creates && errno == ENOENT && !scan) {
                nonBlocking = false;
                fd = openTarget(t, oflags | O_CREAT | O_EXCL, createMode);
                if (fd >= 0) {
                    existed = false;
                    break;
                }
                if (errno == EEXIST) {
                    if (disposition == CREATE_NEW) return openFailed(-1, ERROR_FILE_EXISTS);
                    continue;  // made by another meanwhile (or a link): looked at again
                }
            }
            const int e = errno;
            if (e == EINTR) continue;
            if (e != ENOENT && e != ENOTDIR) return openFailed(-1, openError(e));
        }
        Entry entry;
        if (const DWORD err = resolveEntry(t, &entry, lastMissing)) return openFailed(-1, err);
        if (entry.exists) {
            if (disposition == CREATE_NEW) return openFailed(-1, ERROR_FILE_EXISTS);
            fd = openExistingAt(entry.rel.c_str());
            existed = true;
            if (fd < 0 && errno == ENOENT && creates && S_ISLNK(entry.info.mode)) {
                // A dangling link: the file is made where it leads, only if that lies beneath the share.
                fd = openEntry(entry, oflags | O_CREAT | O_NONBLOCK | O_NOCTTY, createMode);
                if (fd < 0) return openFailed(-1, errno == ENOENT ? DWORD(ERROR_PATH_NOT_FOUND) : openError(errno));
                existed = false;
            }
        } else {
            if (!creates) return openFailed(-1, ERROR_FILE_NOT_FOUND);
            if (t.parsed.trailingSeparator) return openFailed(-1, ERROR_INVALID_NAME);
            nonBlocking = false;
            fd = ::openat(entry.parent, entry.name(), oflags | O_CREAT | O_EXCL | O_NOFOLLOW, createMode);
            existed = false;
        }
        if (fd < 0) {
            const int e = errno;
            if (e == EINTR || e == EEXIST || e == ENOENT) continue;  // raced with another creator or deleter
            return openFailed(-1, openError(e));
        }
    }

    FileInfo info;
    if (const int e = fstatInfo(fd, &info)) return openFailed(fd, ioError(e));
    const bool directory = S_ISDIR(info.mode);
    // A pipe, socket or device in a share is no file of the server's.
    if (!directory && !S_ISREG(info.mode)) return openFailed(fd, ERROR_ACCESS_DENIED);
    if (nonBlocking && !directory && !t.share->ignoresNonBlocking && ::fcntl(fd, F_SETFL, oflags & O_APPEND) != 0) {
        return openFailed(fd, ioError(errno));
    }
    if (directory) {
        if (!backup || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
            return openFailed(fd, ERROR_ACCESS_DENIED);
        }
    } else {
        if (t.parsed.trailingSeparator) return openFailed(fd, ERROR_INVALID_NAME);
        // Windows refuses to write to, or replace, a read-only file whoever asks; root would not be refused.
        if (existed && isReadOnlyMode(info.mode) && (access.write || truncates)) {
            return openFailed(fd, ERROR_ACCESS_DENIED);
        }
    }
    const FileKey key{info.dev, info.ino};
    if (!shareAcquire(key, access)) return openFailed(fd, ERROR_SHARING_VIOLATION);

    auto object = std::make_shared<FileObject>();
    object->fd = fd;
    object->key = key;
    object->access = access;
    object->directory = directory;
    object->appendOnly = appendOnly;
    if (existed && truncates && info.size != 0 && ::ftruncate(fd, 0) != 0) {
        const DWORD code = ioError(errno);
        return fail(INVALID_HANDLE_VALUE, code);  // `object` releases the share and the descriptor
    }
    if (infoOut) {
        *infoOut = info;
        if (existed && truncates) infoOut->size = 0;
    }
    HANDLE h = insertHandle(std::move(object));
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS);
    return h;
}

}  // namespace gridplatform

using namespace gridplatform;

GRIDPLATFORM_API HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                                    DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    const Target t = mapPath(fileName);
    if (t.error) return fail(INVALID_HANDLE_VALUE, t.error);
    return openFile(t, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
}

GRIDPLATFORM_API BOOL CloseHandle(HANDLE object) {
    auto f = std::static_pointer_cast<FileObject>(removeHandle(object, HandleObject::Type::File));
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    // A close that fails (EIO, ENOSPC, EDQUOT on a network share) may be the only sign that data
    // written earlier never reached the file: the handle is gone, and the error is reported. (A call
    // still running on the handle in another thread closes it when it ends, and nobody is told.)
    if (f.use_count() == 1) {
        if (const int e = f->closeNow()) return fail(FALSE, ioError(e));
    }
    return TRUE;
}

GRIDPLATFORM_API BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                               LPOVERLAPPED overlapped) {
    if (bytesRead) *bytesRead = 0;  // before any check, as Windows does
    auto f = fileFrom(file);
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    if (!bytesRead && !overlapped) return fail(FALSE, ERROR_INVALID_PARAMETER);
    if (f->directory) return fail(FALSE, ERROR_INVALID_FUNCTION);
    if (!f->access.read) return fail(FALSE, ERROR_ACCESS_DENIED);
    auto* out = static_cast<char*>(buffer);
    DWORD total = 0;
    const std::uint64_t offset = overlapped ? join(overlapped->Offset, overlapped->OffsetHigh) : 0;
    if (lockedAgainst(*f, overlapped != nullptr, offset, bytesToRead, false)) return fail(FALSE, ERROR_LOCK_VIOLATION);
    while (total < bytesToRead) {
        const ssize_t n = overlapped
                              ? ::pread(f->fd, out + total, bytesToRead - total, static_cast<off_t>(offset + total))
                              : ::read(f->fd, out + total, bytesToRead - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesRead) *bytesRead = total;
            return fail(FALSE, ioError(errno));
        }
        if (n == 0) break;
        total += static_cast<DWORD>(n);
    }
    if (bytesRead) *bytesRead = total;
    if (overlapped) {
        overlapped->InternalHigh = total;
        if (total == 0 && bytesToRead > 0) {
            overlapped->Internal = 0xC0000011;  // STATUS_END_OF_FILE
            return fail(FALSE, ERROR_HANDLE_EOF);
        }
        overlapped->Internal = 0;
        // A synchronous handle's file pointer follows an offset read, as on Windows.
        ::lseek(f->fd, static_cast<off_t>(offset + total), SEEK_SET);
    }
    return TRUE;
}

GRIDPLATFORM_API BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                                LPOVERLAPPED overlapped) {
    if (bytesWritten) *bytesWritten = 0;  // before any check, as Windows does
    auto f = fileFrom(file);
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    if (!bytesWritten && !overlapped) return fail(FALSE, ERROR_INVALID_PARAMETER);
    if (f->directory) return fail(FALSE, ERROR_INVALID_FUNCTION);
    if (!f->access.write) return fail(FALSE, ERROR_ACCESS_DENIED);
    const auto* in = static_cast<const char*>(buffer);
    DWORD total = 0;
    std::uint64_t offset = overlapped ? join(overlapped->Offset, overlapped->OffsetHigh) : 0;
    // Both halves 0xFFFFFFFF: at the end of the file (FILE_WRITE_TO_END_OF_FILE). Appended in one
    // step where the kernel can (RWF_APPEND, Linux 4.16), so that no other writer lands between
    // finding the end and writing; the end is read first for the lock check (and as the fallback).
    bool append = offset == kWriteAtEnd;
    if (append) {
        FileInfo info;
        if (const int e = statFd(f->fd, &info)) return fail(FALSE, ioError(e));
        offset = info.size;
    } else if (offset > static_cast<std::uint64_t>(LLONG_MAX)) {
        return fail(FALSE, ERROR_INVALID_PARAMETER);
    }
    if (lockedAgainst(*f, overlapped != nullptr, offset, bytesToWrite, true)) return fail(FALSE, ERROR_LOCK_VIOLATION);
    while (total < bytesToWrite) {
        ssize_t n;
        if (append) {
            iovec part{const_cast<char*>(in + total), bytesToWrite - total};
            n = ::pwritev2(f->fd, &part, 1, -1, RWF_APPEND);  // the file pointer ends after it
            if (n < 0 && (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS)) {
                append = false;  // no RWF_APPEND: at the end found above
                continue;
            }
        } else if (overlapped) {
            n = ::pwrite(f->fd, in + total, bytesToWrite - total, static_cast<off_t>(offset + total));
        } else {
            n = ::write(f->fd, in + total, bytesToWrite - total);
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesWritten) *bytesWritten = total;
            return fail(FALSE, ioError(errno));
        }
        total += static_cast<DWORD>(n);
    }
    if (bytesWritten) *bytesWritten = total;
    if (overlapped) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = total;
        if (!append) ::lseek(f->fd, static_cast<off_t>(offset + total), SEEK_SET);
    }
    return TRUE;
}

GRIDPLATFORM_API BOOL FlushFileBuffers(HANDLE file) {
    auto f = fileFrom(file);
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    if (!f->access.write) return fail(FALSE, ERROR_ACCESS_DENIED);
    if (::fsync(f->fd) != 0) return fail(FALSE, ioError(errno));
    return TRUE;
}

GRIDPLATFORM_API BOOL SetEndOfFile(HANDLE file) {
    auto f = fileFrom(file);
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    if (!f->access.write || f->directory) return fail(FALSE, ERROR_ACCESS_DENIED);
    const off_t pos = ::lseek(f->fd, 0, SEEK_CUR);
    if (pos < 0 || ::ftruncate(f->fd, pos) != 0) return fail(FALSE, ioError(errno));
    return TRUE;
}

GRIDPLATFORM_API BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distanceToMove, PLARGE_INTEGER newFilePointer,
                                       DWORD moveMethod) {
    auto f = fileFrom(file);
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    int whence;
    switch (moveMethod) {
        case FILE_BEGIN:
            whence = SEEK_SET;
            break;
        case FILE_CURRENT:
            whence = SEEK_CUR;
            break;
        case FILE_END:
            whence = SEEK_END;
            break;
        default:
            return fail(FALSE, ERROR_INVALID_PARAMETER);
    }
    if (whence == SEEK_SET && distanceToMove.QuadPart < 0) return fail(FALSE, ERROR_NEGATIVE_SEEK);
    const off_t pos = ::lseek(f->fd, static_cast<off_t>(distanceToMove.QuadPart), whence);
    if (pos < 0) return fail(FALSE, errno == EINVAL ? DWORD(ERROR_NEGATIVE_SEEK) : ioError(errno));
    if (newFilePointer) newFilePointer->QuadPart = pos;
    return TRUE;
}

GRIDPLATFORM_API DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) {
    LARGE_INTEGER distance;
    if (distanceToMoveHigh) {
        distance.QuadPart =
            static_cast<LONGLONG>((static_cast<std::uint64_t>(static_cast<DWORD>(*distanceToMoveHigh)) << 32) |
                                  static_cast<DWORD>(distanceToMove));
    } else {
        distance.QuadPart = distanceToMove;
    }
    LARGE_INTEGER pos;
    if (!distanceToMoveHigh && moveMethod != FILE_BEGIN) {
        // Without a high half the result must fit 32 bits: a move past 4 GiB fails and the pointer
        // stays (from the beginning a LONG cannot get there).
        LARGE_INTEGER zero{}, old;
        if (!SetFilePointerEx(file, zero, &old, FILE_CURRENT)) return INVALID_SET_FILE_POINTER;
        if (!SetFilePointerEx(file, distance, &pos, moveMethod)) return INVALID_SET_FILE_POINTER;
        if (pos.HighPart != 0) {
            SetFilePointerEx(file, old, nullptr, FILE_BEGIN);
            return fail(INVALID_SET_FILE_POINTER, ERROR_INVALID_PARAMETER);
        }
    } else if (!SetFilePointerEx(file, distance, &pos, moveMethod)) {
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh) *distanceToMoveHigh = pos.HighPart;
    // A low part that looks like the failure value is told apart by a cleared last error.
    if (pos.LowPart == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return pos.LowPart;
}

GRIDPLATFORM_API BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER fileSize) {
    auto f = fileFrom(file);
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    FileInfo info;
    if (const int e = statFd(f->fd, &info)) return fail(FALSE, ioError(e));
    fileSize->QuadPart = f->directory ? 0 : static_cast<LONGLONG>(info.size);
    return TRUE;
}

GRIDPLATFORM_API DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return INVALID_FILE_SIZE;
    if (fileSizeHigh) *fileSizeHigh = static_cast<DWORD>(size.HighPart);
    if (size.LowPart == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return size.LowPart;
}

GRIDPLATFORM_API BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesToLockLow, DWORD bytesToLockHigh,
                                 LPOVERLAPPED overlapped) {
    auto f = fileFrom(file);
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    if (!overlapped || reserved != 0) return fail(FALSE, ERROR_INVALID_PARAMETER);
    // Locking needs read or write access, as on Windows (an attributes-only handle may not lock).
    if (!f->access.read && !f->access.write) return fail(FALSE, ERROR_ACCESS_DENIED);
    LockRange range{join(overlapped->Offset, overlapped->OffsetHigh), join(bytesToLockLow, bytesToLockHigh),
                    (flags & LOCKFILE_EXCLUSIVE_LOCK) != 0};
    if (range.length > UINT64_MAX - range.offset) return fail(FALSE, ERROR_INVALID_PARAMETER);
    const bool wait = !(flags & LOCKFILE_FAIL_IMMEDIATELY);

    std::vector<LockRange> before;
    std::vector<LockRange> after;
    {
        std::lock_guard<std::mutex> lock(f->lockMutex);
        // An exclusive lock may not overlap any lock, not even one this handle holds; shared locks stack.
        if (range.exclusive) {
            for (const LockRange& l : f->locks) {
                if (l.overlaps(range.offset, range.length)) return fail(FALSE, ERROR_LOCK_VIOLATION);
            }
        }
        before = f->locks;
    }
    after = before;
    after.push_back(range);
    if (range.length) {
        int err = 0;
        const int fd = kernelLockFd(*f);
        if (!applyKernelLocks(fd, after, range.offset, range.end(), wait, &err)) {
            int ignored;
            applyKernelLocks(fd, before, range.offset, range.end(), false, &ignored);
            return fail(FALSE, win32FromErrno(err, ErrnoContext::Lock));
        }
    }
    {
        std::lock_guard<std::mutex> lock(f->lockMutex);
        f->locks.push_back(range);
    }
    lockRegister(f->key, f.get(), range.offset, range.length, range.exclusive);
    overlapped->Internal = 0;
    return TRUE;
}

GRIDPLATFORM_API BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesToUnlockLow, DWORD bytesToUnlockHigh,
                                   LPOVERLAPPED overlapped) {
    auto f = fileFrom(file);
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    if (!overlapped || reserved != 0) return fail(FALSE, ERROR_INVALID_PARAMETER);
    const std::uint64_t offset = join(overlapped->Offset, overlapped->OffsetHigh);
    const std::uint64_t length = join(bytesToUnlockLow, bytesToUnlockHigh);
    std::lock_guard<std::mutex> lock(f->lockMutex);
    // Only a range locked exactly so can be unlocked; of an exclusive and a shared lock on the same
    // range the exclusive one goes first.
    auto match = f->locks.end();
    for (auto it = f->locks.begin(); it != f->locks.end(); ++it) {
        if (it->offset == offset && it->length == length && (match == f->locks.end() || it->exclusive)) match = it;
    }
    if (match == f->locks.end()) return fail(FALSE, ERROR_NOT_LOCKED);
    lockUnregister(f->key, f.get(), match->offset, match->length, match->exclusive);
    f->locks.erase(match);
    int err = 0;
    if (length && !applyKernelLocks(kernelLockFd(*f), f->locks, offset, offset + length, false, &err)) {
        return fail(FALSE, win32FromErrno(err, ErrnoContext::Lock));
    }
    return TRUE;
}
