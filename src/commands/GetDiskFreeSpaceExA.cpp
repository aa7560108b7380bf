#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

GetDiskFreeSpaceExA::GetDiskFreeSpaceExA(const char* directoryName, ULARGE_INTEGER* freeBytesAvailableToCaller,
                                         ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes)
    : directoryName_(directoryName),
      freeBytesAvailableToCaller_(freeBytesAvailableToCaller),
      totalNumberOfBytes_(totalNumberOfBytes),
      totalNumberOfFreeBytes_(totalNumberOfFreeBytes) {}

GetDiskFreeSpaceExA::~GetDiskFreeSpaceExA() = default;

ErrorStatus GetDiskFreeSpaceExA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("GetDiskFreeSpaceEx");
    return RetryingRun(handler, waiter)
        .argument(directoryName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Get Disk Free Space(Ex) on UNC"));
}

ErrorStatus GetDiskFreeSpaceExA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().GetDiskFreeSpaceExA(directoryName_, freeBytesAvailableToCaller_, totalNumberOfBytes_,
                                                      totalNumberOfFreeBytes_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
