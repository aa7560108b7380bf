#include <GridApi/RemoveDirectoryA.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

RemoveDirectoryA::RemoveDirectoryA(const std::string& pathName, int recursive)
    : pathName_(pathName), recursive_(recursive) {}

RemoveDirectoryA::~RemoveDirectoryA() = default;

ErrorStatus RemoveDirectoryA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("RemoveDirectory");
    return RetryingRun(handler, waiter)
        .argument(pathName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Remove Directory on UNC"));
}

ErrorStatus RemoveDirectoryA::doOnce() {
    ErrorStatus result;
    if (recursive_ == 0) {
        result.status = systemCalls().RemoveDirectoryA(pathName_.c_str());
        result.lastError = ::GetLastError();
        return result;
    }
    // The recursive removal's own error code; the thread's last error is not read when it succeeds.
    const BOOL removed = systemCalls().RemoveDirectoryTreeA(pathName_.c_str());
    result.lastError = removed ? 0 : ::GetLastError();
    result.status = result.lastError == 0 ? 1 : 0;
    return result;
}

}  // namespace GridApi
