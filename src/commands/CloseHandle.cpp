#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

CloseHandle::CloseHandle(FileServicesHandle& handle) : handle_(handle) {}

CloseHandle::~CloseHandle() = default;

ErrorStatus CloseHandle::operator()(RetryWaiter) {
    ErrorStatus result = runOnce([this] { return doOnce(); });
    // A closed handle cannot be re-created.
    if (result.status != 0) handle_.resetRectreationInfo();
    return result;
}

ErrorStatus CloseHandle::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().CloseHandle(handle_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
