#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

GetCurrentDirectoryA::GetCurrentDirectoryA(DWORD bufferLength, char* buffer)
    : bufferLength_(bufferLength), buffer_(buffer) {}

GetCurrentDirectoryA::~GetCurrentDirectoryA() = default;

ErrorStatus GetCurrentDirectoryA::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus GetCurrentDirectoryA::doOnce() {
    ErrorStatus result;
    result.value = systemCalls().GetCurrentDirectoryA(bufferLength_, buffer_);
    result.status = result.value != 0 ? 1 : 0;
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
