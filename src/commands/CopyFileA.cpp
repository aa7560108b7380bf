#include <GridApi/CopyMoveCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

CopyFileA::CopyFileA(const std::string& existingFileName, const std::string& newFileName, bool failIfExists)
    : existingFileName_(existingFileName), newFileName_(newFileName), failIfExists_(failIfExists) {}

CopyFileA::~CopyFileA() = default;

ErrorStatus CopyFileA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("CopyFile");
    return RetryingRun(handler, waiter)
        .argument(existingFileName_)
        .argument(newFileName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Copy File to %s on UNC", newFileName_.c_str()));
}

ErrorStatus CopyFileA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().CopyFileA(existingFileName_.c_str(), newFileName_.c_str(), failIfExists_ ? 1 : 0);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
