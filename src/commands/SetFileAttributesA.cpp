#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

SetFileAttributesA::SetFileAttributesA(const std::string& fileName, DWORD fileAttributes)
    : fileName_(fileName), fileAttributes_(fileAttributes) {}

SetFileAttributesA::~SetFileAttributesA() = default;

ErrorStatus SetFileAttributesA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("SetFileAttributes");
    return RetryingRun(handler, waiter)
        .argument(fileName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Set File Attributes on UNC"));
}

ErrorStatus SetFileAttributesA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().SetFileAttributesA(fileName_.c_str(), fileAttributes_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
