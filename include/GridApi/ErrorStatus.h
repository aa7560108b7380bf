#pragma once

#include <cstdint>
#include <string>

#include <GridApi/Export.h>
#include <StravoHost/FileServicesHandle.h>

namespace GridApi {

// The result of one attempt of a file call, and of one whole run of a command.
struct GRIDAPI_API ErrorStatus {
    // The attempt's success indication; the run counts any non-zero value as success.
    std::int32_t status;
    // The thread's last error, read at once after the wrapped call.
    std::uint32_t lastError;
    // The handle the attempt produced; empty for calls that produce none.
    FileServicesHandle handle;
    // The numeric result of calls that return a DWORD or UINT; otherwise 0.
    std::uint32_t value;

    ErrorStatus();
    ErrorStatus(const ErrorStatus& other);
    ~ErrorStatus();
    ErrorStatus& operator=(const ErrorStatus& other);
    // Moves take the handle over instead of copying it.
    ErrorStatus(ErrorStatus&& other) noexcept;
    ErrorStatus& operator=(ErrorStatus&& other) noexcept;

    operator FileServicesHandle&();
    // 1 (true) when status > 0 in a signed comparison.
    operator int() const;
    operator bool() const;
    // value, the same 32 bits in each type.
    operator unsigned int() const;
    operator unsigned long() const;
    operator long() const;
    // The raw handle held by handle.
    operator void*() const;

    // "Status = <status>,Last Error = <lastError>", both as signed decimals.
    std::string toString() const;
};

}  // namespace GridApi
