#include <StravoHost/MoveFileWithCheckCRC.h>

#include <mutex>
#include <vector>

#include <boost/crc.hpp>

#include <StravoHost/HostControl.h>

#include "Internal.h"

#ifndef ERROR_CRC
#define ERROR_CRC 23L
#endif

namespace {

// Keeps the error of a failed step while cleaning up after it.
class LastErrorKeeper {
  public:
    LastErrorKeeper() : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

  private:
    DWORD error_;
};

std::string directoryOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    if (slash == 0) return path.substr(0, 1);
    return path.substr(0, slash);
}

// The test control surface's fault seam and record of attempts.
struct VerifiedMoveControl {
    std::mutex mutex;
    DWORD error = 0;
    std::uint64_t remaining = 0;  // with error set: failures left, 0 = every attempt fails
    std::vector<const void*> attempts;
};

VerifiedMoveControl& control() {
    static VerifiedMoveControl* instance = new VerifiedMoveControl;  // alive through static destruction
    return *instance;
}

// Records the attempt; true (with the last error set) when it is to fail.
bool injectedFailure(const void* object) {
    VerifiedMoveControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.attempts.push_back(object);
    if (c.error == 0) return false;
    SetLastError(c.error);
    if (c.remaining != 0 && --c.remaining == 0) c.error = 0;
    return true;
}

}  // namespace

namespace StravoHostInternal {
void resetVerifiedMove() {
    VerifiedMoveControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.error = 0;
    c.remaining = 0;
    c.attempts.clear();
}
}  // namespace StravoHostInternal

namespace StravoHostControl {
void failVerifiedMoves(uint32_t error, uint64_t count) {
    VerifiedMoveControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.error = error;
    c.remaining = count;
}

std::vector<const void*> verifiedMoveAttempts() {
    VerifiedMoveControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.attempts;
}
}  // namespace StravoHostControl

MoveFileWithCheckCRC::MoveFileWithCheckCRC(std::string existing, std::string target, DWORD flags, int option)
    : existing_(std::move(existing)), target_(std::move(target)), flags_(flags), option_(option) {}

MoveFileWithCheckCRC::~MoveFileWithCheckCRC() = default;

BOOL MoveFileWithCheckCRC::doOnce() {
    if (injectedFailure(this)) return FALSE;
    if (option_ != 1) return MoveFileExA(existing_.c_str(), target_.c_str(), flags_);

    // A rename keeps the very same file, so there is nothing to compare.
    if (renameFile(existing_, target_, flags_ & ~static_cast<DWORD>(MOVEFILE_COPY_ALLOWED))) return TRUE;
    if (GetLastError() != static_cast<DWORD>(ERROR_NOT_SAME_DEVICE)) return FALSE;
    return copyVerified();
}

BOOL MoveFileWithCheckCRC::copyVerified() {
    const bool replace = (flags_ & MOVEFILE_REPLACE_EXISTING) != 0;
    if (!replace && GetFileAttributesA(target_.c_str()) != INVALID_FILE_ATTRIBUTES) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }

    // The copy is made under a fresh name beside the target and only renamed into place once it
    // has proven identical, so a bad copy never appears under the target's name.
    char staging[MAX_PATH + 1] = {};
    if (GetTempFileNameA(directoryOf(target_).c_str(), "crc", 0, staging) == 0) return FALSE;
    const std::string copy(staging);

    uint32_t sourceCrc = 0;
    uint32_t copyCrc = 0;
    if (!copyFile(existing_, copy) || !fileCrc(existing_, sourceCrc) || !fileCrc(copy, copyCrc)) {
        LastErrorKeeper keep;
        DeleteFileA(copy.c_str());
        return FALSE;
    }
    if (sourceCrc != copyCrc) {
        DeleteFileA(copy.c_str());
        SetLastError(ERROR_CRC);
        return FALSE;
    }
    if (!MoveFileExA(copy.c_str(), target_.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
        LastErrorKeeper keep;
        DeleteFileA(copy.c_str());
        return FALSE;
    }
    // The target now holds a verified copy: a source that cannot be removed leaves two files.
    return DeleteFileA(existing_.c_str());
}

BOOL MoveFileWithCheckCRC::renameFile(const std::string& from, const std::string& to, DWORD flags) {
    return MoveFileExA(from.c_str(), to.c_str(), flags);
}

BOOL MoveFileWithCheckCRC::copyFile(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE);
}

BOOL MoveFileWithCheckCRC::fileCrc(const std::string& path, uint32_t& crc) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    boost::crc_32_type sum;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            LastErrorKeeper keep;
            CloseHandle(file);
            return FALSE;
        }
        if (got == 0) break;
        sum.process_bytes(buffer.data(), got);
    }
    CloseHandle(file);
    crc = sum.checksum();
    return TRUE;
}
