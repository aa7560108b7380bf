#include "commands/RetryingRun.h"

#include <StravoHost/Error.h>
#include <StravoHost/Log.h>

namespace GridApi {

namespace {

template <class Path>
FileServicesError makeError(const Path& path, DWORD code, const FailureReport& failure) {
    return failure.textArgument ? FileServicesError(path, code, failure.text, failure.textArgument)
                                : FileServicesError(path, code, failure.text);
}

}  // namespace

void RetryingRun::reportSuccess() const {
    logLine(messages::trace, "File '%s' operation successfully completed.", handler_.operationName.c_str());
}

void RetryingRun::reportFailure(const ErrorStatus& result, const FailureReport& failure) const {
    if (failure.kind == FailureReport::eventAndLog) {
        const FileServicesError error =
            failure.widePath ? makeError(*failure.widePath, result.lastError, failure)
                             : makeError(context_.arguments.empty() ? std::string() : context_.arguments.front(),
                                         result.lastError, failure);
        StravoUtilities::WriteSystemEvent(error, GRID_EVENT_SOURCE, nullptr, 0);
        logText(failure.messageId, error.what());
    }
    ::SetLastError(result.lastError);
}

}  // namespace GridApi
