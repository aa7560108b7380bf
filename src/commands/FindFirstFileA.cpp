#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

FindFirstFileA::FindFirstFileA(const std::string& fileName, WIN32_FIND_DATAA* findFileData)
    : fileName_(fileName), findFileData_(findFileData) {}

FindFirstFileA::~FindFirstFileA() = default;

ErrorStatus FindFirstFileA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("FindFirstFile");
    ErrorStatus result = RetryingRun(handler, waiter)
                             .argument(fileName_)
                             .execute([this] { return doOnce(); }, FailureReport("Could not begin file search on UNC"));
    // Nothing found is an answer: the caller sees 2 or 3 as the bare call would have left it.
    if (result.status != 0 && static_cast<void*>(result.handle) == INVALID_HANDLE_VALUE) {
        ::SetLastError(result.lastError);
    }
    return result;
}

ErrorStatus FindFirstFileA::doOnce() {
    ErrorStatus result;
    result.handle = systemCalls().FindFirstFileA(fileName_.c_str(), findFileData_);
    result.lastError = ::GetLastError();
    const bool answered = static_cast<void*>(result.handle) != INVALID_HANDLE_VALUE ||
                          result.lastError == ERROR_FILE_NOT_FOUND || result.lastError == ERROR_PATH_NOT_FOUND;
    result.status = answered ? 1 : 0;
    return result;
}

}  // namespace GridApi
