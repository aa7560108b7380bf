#include <GridApi/DeleteFileA.h>

#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

DeleteFileA::DeleteFileA(const std::string& fileName) : fileName_(fileName) {}

DeleteFileA::~DeleteFileA() = default;

ErrorStatus DeleteFileA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("DeleteFile");
    return RetryingRun(handler, waiter)
        .argument(fileName_)
        .execute([this] { return doOnce(); }, FailureReport::of(fileName_, "Could not Delete File on UNC"));
}

ErrorStatus DeleteFileA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().DeleteFileA(fileName_.c_str());
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
