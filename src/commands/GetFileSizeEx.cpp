#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

GetFileSizeEx::GetFileSizeEx(FileServicesHandle& handle, LARGE_INTEGER* fileSize)
    : handle_(handle), fileSize_(fileSize) {}

GetFileSizeEx::~GetFileSizeEx() = default;

ErrorStatus GetFileSizeEx::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus GetFileSizeEx::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().GetFileSizeEx(handle_, fileSize_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
