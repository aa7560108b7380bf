#pragma once

// Fails chosen platform calls on purpose, for tests and for chaos drills of a host: a fault makes
// the call return its failure value and set the chosen Win32 error, either without calling through
// (the request never reached the file) or after calling through (the call did its work and its
// answer was lost on the way back).
// Faults are installed in the system-call table; clear() puts the injected entries back. Faults may
// be added and cleared while other threads make calls through the table (a chaos drill on a live
// host): a call sees the fault either before or after the change.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <platform/win32.h>

#include <GridApi/Export.h>

namespace GridApi {

// How a failing call fails.
enum class FaultMode {
    // The call is not made: the failure value and the error, nothing else (output arguments as
    // they were).
    failBefore,
    // The call is made and its answer replaced by the failure value and the error, as when a
    // share's reply is lost. ReadFile and WriteFile report 0 bytes, as Win32 leaves the count on a
    // failure. A handle that CreateFileA or FindFirstFileA made is closed again, as the dropped
    // session closes the server's open; what the call did to the file stays.
    lostAnswer,
    // Each failing call draws one of the two above, alike (from the fault's generator).
    eitherWay
};

// What one call's fault has seen since it was added.
struct FaultCounts {
    std::uint64_t calls = 0;
    std::uint64_t injected = 0;
    std::uint64_t failedBefore = 0;
    std::uint64_t answersLost = 0;
    std::map<DWORD, std::uint64_t> byError;  // injected failures per Win32 error
};

struct GRIDAPI_API Fault {
    // The platform call to fail, by its table name (e.g. "DeleteFileA").
    std::string call;
    // The Win32 error the failed call leaves as the thread's last error.
    DWORD error = 0;
    // The first call (counted from 1 since the fault was added) that fails; 0 is refused...
    std::uint64_t fromCall = 1;
    // ...and how many calls fail from there (0: every call from then on).
    std::uint64_t count = 0;
    // Each call in that window fails with this probability (0 to 1, else refused), drawn from a
    // generator seeded with seed.
    double probability = 1.0;
    std::uint32_t seed = 1;
    FaultMode mode = FaultMode::failBefore;
    // When not empty, each failing call leaves one of these errors, drawn from the same generator,
    // in place of `error`.
    std::vector<DWORD> errors;
};

class GRIDAPI_API FaultInjector {
  public:
    // Adds a fault for fault.call (replacing an earlier fault of that call), also after
    // restoreSystemCalls(). False, and nothing changed, for an unknown call, fromCall 0 or a
    // probability outside [0, 1].
    static bool add(const Fault& fault);
    // Removes every fault and restores the table entries it replaced.
    static void clear();
    // Calls of the named function seen since its fault was added, and how many of them failed.
    static std::uint64_t calls(const std::string& call);
    static std::uint64_t injected(const std::string& call);
    // The same with the failures split by mode and by error.
    static FaultCounts counts(const std::string& call);
    // Failures injected into every call since the process started (not reset by add or clear).
    static std::uint64_t injectedTotal();
};

}  // namespace GridApi
