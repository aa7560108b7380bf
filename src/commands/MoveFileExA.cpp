#include <GridApi/CopyMoveCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

MoveFileExA::MoveFileExA(const char* existingFileName, const char* newFileName, DWORD flags)
    : existingFileName_(existingFileName), newFileName_(newFileName), flags_(flags) {}

MoveFileExA::~MoveFileExA() = default;

ErrorStatus MoveFileExA::operator()(RetryWaiter) {
    return runOnce([this] { return doOnce(); });
}

ErrorStatus MoveFileExA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().MoveFileExA(existingFileName_, newFileName_, flags_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
