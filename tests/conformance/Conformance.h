// Shared helpers of the scenario suite (the host and platform tests use them too). Everything here
// uses the Win32 file API only, so the suite runs unchanged on Windows (under Wine here) and on Linux
// over libGridPlatform.
#pragma once

#include <platform/win32.h>

#include <initializer_list>
#include <ostream>
#include <set>
#include <string>
#include <utility>

#include "TestShare.h"

namespace conformance {

using gridtest::underWine;

// A call's outcome: whether it succeeded and the last error it left. An expected outcome may leave
// the error open (kAnyError) where Windows does not define what a success leaves.
constexpr DWORD kAnyError = 0xFFFFFFFFu;

struct Outcome {
    bool ok;
    DWORD error;
    bool operator==(const Outcome& o) const {
        return ok == o.ok && (error == kAnyError || o.error == kAnyError || error == o.error);
    }
};

inline std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    os << (o.ok ? "success" : "failure");
    if (o.error != kAnyError) os << " with last error " << o.error;
    return os;
}

constexpr Outcome kOk{true, kAnyError};
inline Outcome succeedsWith(DWORD error) { return {true, error}; }
inline Outcome failsWith(DWORD error) { return {false, error}; }

// The last error outcomeOf() sets before the call: a call that leaves it alone leaves this.
constexpr DWORD kPoison = 0xDEADBEEF;
constexpr Outcome kOkLeavesLastError{true, kPoison};

// Runs `call` with a poisoned last error and returns whether it succeeded and what it left.
template <typename Call>
Outcome outcomeOf(Call&& call) {
    SetLastError(kPoison);
    const bool ok = call();
    return {ok, GetLastError()};
}

using gridtest::exists;
using gridtest::openFile;
using gridtest::readFile;
using gridtest::writeFile;

// A handle the test opened, closed at the latest when it goes out of scope.
struct HandleCloser {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~HandleCloser() { close(); }
    // Closes the handle now; whether that succeeded.
    bool close() {
        const bool ok = h != INVALID_HANDLE_VALUE && CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        return ok;
    }
};

// Opens `path` into `h` (closing what it held) and returns the outcome of CreateFileA.
inline Outcome openInto(HandleCloser& h, const std::string& path, DWORD access = GENERIC_READ | GENERIC_WRITE,
                        DWORD share = 0, DWORD disposition = OPEN_EXISTING, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    h.close();
    return outcomeOf([&] {
        h.h = openFile(path, access, share, disposition, flags);
        return h.h != INVALID_HANDLE_VALUE;
    });
}

// The names a search finds ("." and ".." included) and the last error it ends with, or no names and
// the error the search fails with.
inline std::pair<std::set<std::string>, DWORD> findNames(const std::string& pattern) {
    WIN32_FIND_DATAA fd;
    SetLastError(0xDEADBEEF);
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return {{}, GetLastError()};
    std::set<std::string> names;
    do {
        names.insert(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    const DWORD end = GetLastError();
    FindClose(h);
    return {names, end};
}

// A FILETIME as one number of 100 ns ticks.
inline ULONGLONG ticks(const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// The suite runs a second time with every call that the file-services object offers made through
// the object (ThroughObject.h, program grid-conformance-object-tests). The object answers as the
// bare call does except for the differences below, made on purpose; where a scenario meets one, it
// expects the object's answer through the object. docs/object-differences.md is the one list of
// them, one row per enumerator here, with each call's two answers and the reason; any other
// difference is a fault.
#ifdef GRIDTEST_THROUGH_OBJECT
constexpr bool kThroughObject = true;
#else
constexpr bool kThroughObject = false;
#endif

enum class Difference {
    CreateDirectoryOnExisting,  // TRUE with 183: "already exists" counts as success
    PathIsDirectoryValue,       // 1, not FILE_ATTRIBUTE_DIRECTORY
    FlushOnWriteThrough,        // FALSE, last error untouched, the system not called
};

// What a scenario expects where the named difference applies: the bare call's answer, or the
// object's when the suite runs through the object.
template <typename T>
T differs(Difference, T bare, T object) {
    return kThroughObject ? object : bare;
}

// Where Wine answers otherwise than Windows, in the scenarios that expect Windows's answer: each
// scenario that meets one names it and expects Wine's answer under Wine (wineOr()). Measured with
// the Wine the Windows build runs under.
enum class WineDifference {
    DosWildcards,               // '<' and '"' plain characters, '>' exactly one character
    LockWithoutAccess,          // LockFileEx without read or write access: TRUE, not FALSE with 5
    AnsiNameLength,             // 206 over 260 characters (long form too), shorter names taken
    ReadOnlyFolderRemoved,      // RemoveDirectoryA of a read-only folder: TRUE, not FALSE with 5
    FolderRenamedOverOpenFile,  // MoveFileExA of a folder over an open file below: TRUE, not 5
    Count
};

// What a scenario expects where Wine's difference `which` applies: Windows's answer, or Wine's
// when the suite runs under Wine.
template <typename T>
T wineOr(WineDifference, T windows, T wine) {
    return underWine() ? wine : windows;
}

// One call on one name and the outcome it must have.
struct PathCase {
    const char* name;
    std::string path;
    Outcome expected;
};

// Runs `call` (taking the name as a C string) on every case in order.
template <typename Call>
void expectEach(std::initializer_list<PathCase> cases, Call&& call) {
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcomeOf([&] { return call(c.path.c_str()); }), c.expected);
    }
}

}  // namespace conformance
