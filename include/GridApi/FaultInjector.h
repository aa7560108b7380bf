#pragma once

// Fails chosen platform calls on purpose, for tests and for chaos drills of a host: a fault makes
// the call return its failure value and set the chosen Win32 error, without calling through.
// Faults are installed in the system-call table; clear() puts the injected entries back. Faults may
// be added and cleared while other threads make calls through the table (a chaos drill on a live
// host): a call sees the fault either before or after the change.

#include <cstdint>
#include <string>

#include <platform/win32.h>

#include <GridApi/Export.h>

namespace GridApi {

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
};

}  // namespace GridApi
