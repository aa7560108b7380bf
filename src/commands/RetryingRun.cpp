#include "commands/RetryingRun.h"

#include <StravoHost/Error.h>
#include <StravoHost/Log.h>

namespace GridApi {

namespace {

const char* const eventSource = "Stravo File Services";

FileServicesError makeError(const FailureReport& failure, DWORD code) {
    if (failure.widePath) {
        return failure.textArgument ? FileServicesError(*failure.widePath, code, failure.text, failure.textArgument)
                                    : FileServicesError(*failure.widePath, code, failure.text);
    }
    return failure.textArgument ? FileServicesError(*failure.path, code, failure.text, failure.textArgument)
                                : FileServicesError(*failure.path, code, failure.text);
}

}  // namespace

void RetryingRun::reportSuccess() const {
    logLine(messages::trace, "File '%s' operation successfully completed.", handler_.operationName.c_str());
}

void RetryingRun::reportFailure(const ErrorStatus& result, const FailureReport& failure) {
    if (failure.kind == FailureReport::eventAndLog) {
        const FileServicesError error = makeError(failure, result.lastError);
        StravoUtilities::WriteSystemEvent(error, eventSource, nullptr, 0);
        logText(failure.messageId, error.what());
    }
    ::SetLastError(result.lastError);
}

}  // namespace GridApi
