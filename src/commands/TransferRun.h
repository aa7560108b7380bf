#pragma once

// The run of ReadFile and WriteFile: the retrying run, with the handle re-created before each
// granted retry (the transfer is repeated on a fresh handle from the kept position) and the new
// position kept in the handle after a success.

#include <GridApi/HandleCommands.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

template <class Attempt>
ErrorStatus runTransfer(const UncFileOperationRetryHandler& handler, FileServicesHandle& handle, RetryWaiter& waiter,
                        Attempt attempt, const char* failureText) {
    // A transfer that succeeds leaves the last error as the bare call would: as it was before the
    // call, whatever a re-creation on the way (an OPEN_ALWAYS that found the file: 183) left.
    const DWORD lastErrorBefore = ::GetLastError();
    RetryingRun run(handler, waiter);
    // The file name is copied for the log and the error record at the first failure, before a
    // re-creation's close clears the handle's record.
    ErrorStatus result =
        run.argument(handle.fileName()).execute(attempt, FailureReport(failureText), StatusSucceeded(), [&handle] {
            return recreateHandle(handle);
        });
    if (result.status != 0) {
        LONG low = 0;
        LONG high = 0;
        SetFilePointer(handle, 0, &low, &high, FILE_CURRENT)(run.releaseWaiter());
        ::SetLastError(lastErrorBefore);
    }
    return result;
}

}  // namespace GridApi
