#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

FlushFileBuffers::FlushFileBuffers(FileServicesHandle& handle) : handle_(handle) {}

FlushFileBuffers::~FlushFileBuffers() = default;

ErrorStatus FlushFileBuffers::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus FlushFileBuffers::doOnce() {
    ErrorStatus result;
    // A write-through handle has nothing to flush: the system is not called, status and last error
    // stay 0 and the thread's last error is left alone.
    if (handle_.getHandleRecreationInfo().flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) return result;
    result.status = systemCalls().FlushFileBuffers(handle_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
