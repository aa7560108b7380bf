#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

CreateDirectoryA::CreateDirectoryA(const std::string& pathName, SECURITY_ATTRIBUTES* securityAttributes)
    : pathName_(pathName), securityAttributes_(securityAttributes) {}

CreateDirectoryA::~CreateDirectoryA() = default;

ErrorStatus CreateDirectoryA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("CreateDirectory");
    return RetryingRun(handler, waiter)
        .argument(pathName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Create Directory on UNC"));
}

ErrorStatus CreateDirectoryA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().CreateDirectoryA(pathName_.c_str(), securityAttributes_);
    result.lastError = ::GetLastError();
    if (result.lastError == ERROR_ALREADY_EXISTS) result.status = 1;
    return result;
}

}  // namespace GridApi
