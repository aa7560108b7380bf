#pragma once

// Another holder of a lock on a settings store, for as long as the object lives: an exclusive
// SQLite transaction on a database, or (Linux) an exclusive POSIX lock on a whole file.
//
// On Linux the holder is another process, forked while no connection of this process has the file
// open (SQLite keeps per-process lock records that a child must not inherit). On Windows it is a
// second connection of this process: Windows locks belong to the handle, so this process's other
// connections meet the lock as they would another process's.

#include <string>

#include <gtest/gtest.h>
#include <sqlite3.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace gridtest {

enum class LockKind { sqliteExclusive, wholeFile };

class HeldLock {
  public:
    HeldLock(const std::string& path, LockKind kind) {
#if defined(_WIN32)
        EXPECT_EQ(kind, LockKind::sqliteExclusive) << "a whole-file lock is held on Linux only";
        held_ = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
#else
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) return;
        child_ = ::fork();
        if (child_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const char answer = lock(path, kind) ? '1' : '0';
            if (::write(ready[1], &answer, 1) != 1) ::_exit(1);
            char none;
            while (::read(release[0], &none, 1) > 0) {
            }
            ::_exit(0);  // the lock goes with the process
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        pollfd entry{ready[0], POLLIN, 0};
        char answer = '0';
        held_ = child_ > 0 && ::poll(&entry, 1, 10000) == 1 && ::read(ready[0], &answer, 1) == 1 && answer == '1';
        ::close(ready[0]);
#endif
        EXPECT_TRUE(held_) << "could not lock " << path;
    }

    ~HeldLock() {
#if defined(_WIN32)
        sqlite3_close(db_);
#else
        if (release_ >= 0) ::close(release_);
        if (child_ > 0) ::waitpid(child_, nullptr, 0);
#endif
    }

    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

    bool held() const { return held_; }

  private:
#if defined(_WIN32)
    sqlite3* db_ = nullptr;
#else
    // In the child: takes the lock and keeps it (the connection is never closed).
    static bool lock(const std::string& path, LockKind kind) {
        if (kind == LockKind::wholeFile) {
            const int fd = ::open(path.c_str(), O_RDWR);
            struct flock whole {};
            whole.l_type = F_WRLCK;
            whole.l_whence = SEEK_SET;
            return fd >= 0 && ::fcntl(fd, F_SETLK, &whole) == 0;
        }
        sqlite3* db = nullptr;
        return sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
               sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    pid_t child_ = -1;
    int release_ = -1;
#endif
    bool held_ = false;
};

}  // namespace gridtest
