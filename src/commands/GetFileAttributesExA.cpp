#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

GetFileAttributesExA::GetFileAttributesExA(const char* fileName, GET_FILEEX_INFO_LEVELS infoLevelId,
                                           void* fileInformation)
    : fileName_(fileName), infoLevelId_(infoLevelId), fileInformation_(fileInformation) {}

GetFileAttributesExA::~GetFileAttributesExA() = default;

ErrorStatus GetFileAttributesExA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("GetFileAttributesEx");
    return RetryingRun(handler, waiter)
        .argument(fileName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Get File Attributes(Ex) on UNC"));
}

ErrorStatus GetFileAttributesExA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().GetFileAttributesExA(fileName_, infoLevelId_, fileInformation_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
