#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

DeleteFileA::DeleteFileA(const std::string& fileName) : fileName_(fileName) {}

DeleteFileA::DeleteFileA(std::string&& fileName) : fileName_(std::move(fileName)) {}

DeleteFileA::~DeleteFileA() = default;

ErrorStatus DeleteFileA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("DeleteFile");
    return RetryingRun(handler, waiter)
        .argument(fileName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Delete File on UNC"));
}

ErrorStatus DeleteFileA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().DeleteFileA(fileName_.c_str());
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
