#include <GridApi/CopyMoveCommands.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include <StravoHost/MoveFileWithCheckCRC.h>

#include "commands/RetryingRun.h"

namespace GridApi {

MoveFileA::MoveFileA(const std::string& existingFileName, const std::string& newFileName, DWORD flags)
    : existingFileName_(existingFileName), newFileName_(newFileName), flags_(flags) {}

MoveFileA::~MoveFileA() = default;

ErrorStatus MoveFileA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("MoveFileEx");
    // One verified move for the whole run (paths copied up to their first NUL; option 1: verified).
    MoveFileWithCheckCRC move(std::string(existingFileName_.c_str()), std::string(newFileName_.c_str()), flags_, 1);
    return RetryingRun(handler, waiter)
        .argument(existingFileName_)
        .argument(newFileName_)
        .execute([this, &move] { return doOnce(move); },
                 FailureReport("Could not Move File(Ex) to %s on UNC", newFileName_.c_str()));
}

ErrorStatus MoveFileA::doOnce(MoveFileWithCheckCRC& move) {
    ErrorStatus result;
    result.status = move.doOnce();
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
