// Opening a settings store's file without waiting on it: see StoreFile.h.
#include "StoreFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <StravoHost/Settings.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace StravoHostInternal {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw SettingsError("cannot read " + path + ": " + why);
}

#if defined(_WIN32)

// A handle that lets every other opener in (no sharing conflict) and reads nothing.
class StoreHandle {
  public:
    explicit StoreHandle(const std::string& path)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
    ~StoreHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    StoreHandle(const StoreHandle&) = delete;
    StoreHandle& operator=(const StoreHandle&) = delete;
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

// The opened handle, or none when nothing is there; refuses what is not a regular file.
bool openRegular(const std::string& path, StoreHandle& file) {
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
        refuse(path, "error " + std::to_string(error));
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) refuse(path, "not a regular file (a device or a pipe)");
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file.get(), &information)) refuse(path, "error " + std::to_string(GetLastError()));
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) refuse(path, "not a regular file (a directory)");
    return true;
}

#else

class StoreHandle {
  public:
    // O_NONBLOCK: opening a FIFO that no one writes to, or a device, returns at once.
    explicit StoreHandle(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {}
    ~StoreHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    StoreHandle(const StoreHandle&) = delete;
    StoreHandle& operator=(const StoreHandle&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

bool openRegular(const std::string& path, StoreHandle& file) {
    if (file.get() < 0) {
        if (errno == ENOENT) return false;
        refuse(path, std::strerror(errno));
    }
    struct stat status;
    if (::fstat(file.get(), &status) != 0) refuse(path, std::strerror(errno));
    if (!S_ISREG(status.st_mode)) refuse(path, std::string("not a regular file (") + kindOf(status.st_mode) + ")");
    return true;
}

#endif

}  // namespace

bool isRegularStoreFile(const std::string& path) {
    StoreHandle file(path);
    return openRegular(path, file);
}

boost::optional<std::string> readStoreFile(const std::string& path, std::size_t limit) {
    StoreHandle file(path);
    if (!openRegular(path, file)) return boost::none;
    // Read in pieces until the end or one byte past the limit, whatever size the file claims.
    std::string content;
    char piece[16384];
    while (content.size() <= limit) {
        const std::size_t want = std::min(sizeof piece, limit + 1 - content.size());
#if defined(_WIN32)
        DWORD got = 0;
        if (!ReadFile(file.get(), piece, static_cast<DWORD>(want), &got, nullptr)) {
            refuse(path, "error " + std::to_string(GetLastError()));
        }
#else
        const ssize_t got = ::read(file.get(), piece, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            refuse(path, std::strerror(errno));
        }
#endif
        if (got == 0) break;
        content.append(piece, static_cast<std::size_t>(got));
    }
    if (content.size() > limit) refuse(path, "larger than " + std::to_string(limit) + " bytes");
    return content;
}

}  // namespace StravoHostInternal
