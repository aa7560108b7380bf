// Shared helpers of the scenario suite. Everything here uses the Win32 file API only, so the suite
// runs unchanged on Windows (under Wine here) and on Linux over libGridPlatform.
#pragma once

#include <platform/win32.h>

#include <ostream>
#include <string>
#include <utility>

#include "TestShare.h"

namespace conformance {

// Whether the suite runs under Wine. Where Wine and Windows differ, the suite expects Windows and
// names the difference where it skips or adjusts a check.
inline bool underWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

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

// Runs `call` with a poisoned last error and returns whether it succeeded and what it left.
template <typename Call>
Outcome outcomeOf(Call&& call) {
    SetLastError(0xDEADBEEF);
    const bool ok = call();
    return {ok, GetLastError()};
}

inline HANDLE openFile(const std::string& path, DWORD access = GENERIC_READ | GENERIC_WRITE, DWORD share = 0,
                       DWORD disposition = OPEN_EXISTING, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// Creates (or replaces) a file holding `data`.
inline bool writeFile(const std::string& path, const std::string& data) {
    HANDLE h = openFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size();
    return CloseHandle(h) && ok;
}

// The whole content of a file, or "<error N>".
inline std::string readFile(const std::string& path) {
    HANDLE h = openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (h == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
    std::string out;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    CloseHandle(h);
    return out;
}

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The closing of a handle that the test opened, checked.
struct HandleCloser {
    HANDLE h;
    ~HandleCloser() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

}  // namespace conformance
