#include <GridApi/PathQueries.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

PathIsDirectoryEmptyA::PathIsDirectoryEmptyA(const std::string& path) : path_(path) {}

PathIsDirectoryEmptyA::~PathIsDirectoryEmptyA() = default;

ErrorStatus PathIsDirectoryEmptyA::operator()(RetryWaiter waiter) {
    static const PathIsDirectoryEmptyRetryHandler handler;
    return RetryingRun(handler, waiter)
        .argument(path_)
        .execute([this] { return doOnce(); },
                 FailureReport("Path %s is not an empty directory on UNC", path_.c_str(), messages::information));
}

ErrorStatus PathIsDirectoryEmptyA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().PathIsDirectoryEmptyA(path_.c_str());
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
