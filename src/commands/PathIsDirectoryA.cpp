#include <GridApi/PathQueries.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

PathIsDirectoryA::PathIsDirectoryA(const std::string& path) : path_(path) {}

PathIsDirectoryA::~PathIsDirectoryA() = default;

ErrorStatus PathIsDirectoryA::operator()(RetryWaiter waiter) {
    static const PathIsDirectoryRetryHandler handler;
    return RetryingRun(handler, waiter)
        .argument(path_)
        .execute([this] { return doOnce(); },
                 FailureReport("Path %s is not a directory on UNC", path_.c_str(), messages::information));
}

ErrorStatus PathIsDirectoryA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().PathIsDirectoryA(path_.c_str());
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
