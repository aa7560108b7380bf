#pragma once

// The system-call table: the library reaches every platform file call through one table of named
// entries (name, current function, default function). Tests and hosts may replace an entry, e.g. to
// inject faults, and restore one or all, also while file operations run on other threads: each entry
// is an atomic function pointer (a relaxed load, as cheap as a plain one on x86-64), so a call uses
// either the old or the new function, never a torn one.

#include <atomic>

#include <platform/win32.h>

#include <GridApi/Export.h>

// X(name, failure value): every platform call of the library, with what it returns on failure.
#define GRIDAPI_SYSTEM_CALLS(X)                    \
    X(CreateFileA, INVALID_HANDLE_VALUE)           \
    X(ReadFile, FALSE)                             \
    X(WriteFile, FALSE)                            \
    X(CloseHandle, FALSE)                          \
    X(FlushFileBuffers, FALSE)                     \
    X(SetEndOfFile, FALSE)                         \
    X(SetFilePointer, INVALID_SET_FILE_POINTER)    \
    X(SetFilePointerEx, FALSE)                     \
    X(GetFileSize, INVALID_FILE_SIZE)              \
    X(GetFileSizeEx, FALSE)                        \
    X(LockFileEx, FALSE)                           \
    X(UnlockFileEx, FALSE)                         \
    X(FindFirstFileA, INVALID_HANDLE_VALUE)        \
    X(FindNextFileA, FALSE)                        \
    X(FindClose, FALSE)                            \
    X(CreateDirectoryA, FALSE)                     \
    X(CreateDirectoryW, FALSE)                     \
    X(RemoveDirectoryA, FALSE)                     \
    X(DeleteFileA, FALSE)                          \
    X(CopyFileA, FALSE)                            \
    X(MoveFileExA, FALSE)                          \
    X(GetFileAttributesA, INVALID_FILE_ATTRIBUTES) \
    X(GetFileAttributesExA, FALSE)                 \
    X(SetFileAttributesA, FALSE)                   \
    X(GetDiskFreeSpaceA, FALSE)                    \
    X(GetDiskFreeSpaceExA, FALSE)                  \
    X(GetTempFileNameA, 0)                         \
    X(GetCurrentDirectoryA, 0)                     \
    X(SetCurrentDirectoryA, FALSE)                 \
    X(PathFileExistsA, FALSE)                      \
    X(PathIsDirectoryA, FALSE)                     \
    X(PathIsDirectoryEmptyA, FALSE)                \
    X(RemoveDirectoryTreeA, FALSE)

namespace GridApi {

// One entry of the table: called like the function it holds.
template <class F>
class SystemCall;

template <class R, class... A>
class SystemCall<R(WINAPI*)(A...)> {
  public:
    typedef R(WINAPI* Function)(A...);
    R operator()(A... args) const { return function_.load(std::memory_order_relaxed)(args...); }
    Function load() const { return function_.load(std::memory_order_relaxed); }
    void store(Function function) { function_.store(function, std::memory_order_relaxed); }
    // Replaces `expected` with `function`; false (and nothing changed) when the entry held another.
    bool replace(Function expected, Function function) {
        return function_.compare_exchange_strong(expected, function, std::memory_order_relaxed);
    }

  private:
    std::atomic<Function> function_{nullptr};
};

// The current functions, one member per call, named like the call; the library calls through these
// (`systemCalls().DeleteFileA(name)`).
struct SystemCallTable {
#define GRIDAPI_SYSCALL_MEMBER(name, failure) SystemCall<decltype(&::name)> name;
    GRIDAPI_SYSTEM_CALLS(GRIDAPI_SYSCALL_MEMBER)
#undef GRIDAPI_SYSCALL_MEMBER
};

// The table the library's commands call through.
GRIDAPI_API const SystemCallTable& systemCalls();

// Sets the named entry to fn (nullptr restores its default). Returns false for an unknown name.
GRIDAPI_API bool setSystemCall(const char* name, void* fn);
// The named entry's current function, or nullptr for an unknown name.
GRIDAPI_API void* getSystemCall(const char* name);
// The named entry's default (platform) function, or nullptr for an unknown name.
GRIDAPI_API void* getDefaultSystemCall(const char* name);
// The name of the entry after name (nullptr: the first), or nullptr after the last.
GRIDAPI_API const char* nextSystemCall(const char* name);
// Puts every entry back to its default.
GRIDAPI_API void restoreSystemCalls();

}  // namespace GridApi
