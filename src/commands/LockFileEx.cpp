#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

LockFileEx::LockFileEx(FileServicesHandle& handle, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                       OVERLAPPED* overlapped)
    : handle_(handle),
      flags_(flags),
      reserved_(reserved),
      bytesLow_(bytesLow),
      bytesHigh_(bytesHigh),
      overlapped_(overlapped) {}

LockFileEx::~LockFileEx() = default;

ErrorStatus LockFileEx::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus LockFileEx::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().LockFileEx(handle_, flags_, reserved_, bytesLow_, bytesHigh_, overlapped_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
