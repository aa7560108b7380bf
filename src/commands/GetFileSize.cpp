#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

GetFileSize::GetFileSize(FileServicesHandle& handle, DWORD* fileSizeHigh)
    : handle_(handle), fileSizeHigh_(fileSizeHigh) {}

GetFileSize::~GetFileSize() = default;

ErrorStatus GetFileSize::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus GetFileSize::doOnce() {
    ErrorStatus result;
    result.value = systemCalls().GetFileSize(handle_, fileSizeHigh_);
    result.status = result.value != INVALID_FILE_SIZE ? 1 : 0;
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
