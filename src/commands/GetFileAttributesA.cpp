#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

GetFileAttributesA::GetFileAttributesA(const std::string& fileName) : fileName_(fileName) {}

GetFileAttributesA::GetFileAttributesA(std::string&& fileName) : fileName_(std::move(fileName)) {}

GetFileAttributesA::~GetFileAttributesA() = default;

namespace {
struct AttributesRead {
    bool operator()(const ErrorStatus& result) const { return result.value != INVALID_FILE_ATTRIBUTES; }
};
}  // namespace

ErrorStatus GetFileAttributesA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("GetFileAttributes");
    return RetryingRun(handler, waiter)
        .argument(fileName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Get File Attributes on UNC"), AttributesRead());
}

ErrorStatus GetFileAttributesA::doOnce() {
    ErrorStatus result;
    result.value = systemCalls().GetFileAttributesA(fileName_.c_str());
    result.status = result.value != INVALID_FILE_ATTRIBUTES ? 1 : 0;
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
