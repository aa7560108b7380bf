#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

FindClose::FindClose(FileServicesHandle& handle) : handle_(handle) {}

FindClose::~FindClose() = default;

ErrorStatus FindClose::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus FindClose::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().FindClose(handle_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
