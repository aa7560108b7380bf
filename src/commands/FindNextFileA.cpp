#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

FindNextFileA::FindNextFileA(FileServicesHandle& handle, WIN32_FIND_DATAA* findData)
    : handle_(handle), findData_(findData) {}

FindNextFileA::~FindNextFileA() = default;

ErrorStatus FindNextFileA::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus FindNextFileA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().FindNextFileA(handle_, findData_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
