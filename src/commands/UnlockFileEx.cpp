#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

UnlockFileEx::UnlockFileEx(FileServicesHandle& handle, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                           OVERLAPPED* overlapped)
    : handle_(handle), reserved_(reserved), bytesLow_(bytesLow), bytesHigh_(bytesHigh), overlapped_(overlapped) {}

UnlockFileEx::~UnlockFileEx() = default;

ErrorStatus UnlockFileEx::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus UnlockFileEx::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().UnlockFileEx(handle_, reserved_, bytesLow_, bytesHigh_, overlapped_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
