#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

SetCurrentDirectoryA::SetCurrentDirectoryA(const char* pathName) : pathName_(pathName) {}

SetCurrentDirectoryA::~SetCurrentDirectoryA() = default;

ErrorStatus SetCurrentDirectoryA::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus SetCurrentDirectoryA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().SetCurrentDirectoryA(pathName_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
