#include <GridApi/PathQueries.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

PathFileExistsA::PathFileExistsA(const std::string& path) : path_(path) {}

PathFileExistsA::~PathFileExistsA() = default;

ErrorStatus PathFileExistsA::operator()(RetryWaiter waiter) {
    static const PathFileExistsRetryHandler handler;
    return RetryingRun(handler, waiter).argument(path_).execute([this] { return doOnce(); }, FailureReport::silent());
}

ErrorStatus PathFileExistsA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().PathFileExistsA(path_.c_str());
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
