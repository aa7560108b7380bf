#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

SetEndOfFile::SetEndOfFile(FileServicesHandle& handle) : handle_(handle) {}

SetEndOfFile::~SetEndOfFile() = default;

ErrorStatus SetEndOfFile::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus SetEndOfFile::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().SetEndOfFile(handle_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
