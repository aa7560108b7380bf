#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

GetTempFileNameA::GetTempFileNameA(const char* pathName, const char* prefixString, UINT unique, char* tempFileName)
    : pathName_(pathName), prefixString_(prefixString), unique_(unique), tempFileName_(tempFileName) {}

GetTempFileNameA::~GetTempFileNameA() = default;

ErrorStatus GetTempFileNameA::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus GetTempFileNameA::doOnce() {
    // Without an output buffer the name goes to a scratch buffer and only the number is kept.
    char scratch[MAX_PATH + 1];
    ErrorStatus result;
    result.value =
        systemCalls().GetTempFileNameA(pathName_, prefixString_, unique_, tempFileName_ ? tempFileName_ : scratch);
    result.status = result.value != 0 ? 1 : 0;
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
