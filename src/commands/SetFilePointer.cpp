#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

SetFilePointer::SetFilePointer(FileServicesHandle& handle, LONG distanceToMove, LONG* newPointerLow,
                               LONG* distanceToMoveHigh, DWORD moveMethod)
    : handle_(handle),
      distanceToMove_(distanceToMove),
      newPointerLow_(newPointerLow),
      distanceToMoveHigh_(distanceToMoveHigh),
      moveMethod_(moveMethod) {}

SetFilePointer::~SetFilePointer() = default;

ErrorStatus SetFilePointer::operator()(RetryWaiter) {
    ErrorStatus result = runOnce([this] { return doOnce(); });
    if (result.status != 0) handle_.setCurrFilePointer(*newPointerLow_, distanceToMoveHigh_ ? *distanceToMoveHigh_ : 0);
    return result;
}

ErrorStatus SetFilePointer::doOnce() {
    ErrorStatus result;
    const DWORD low = systemCalls().SetFilePointer(handle_, distanceToMove_, distanceToMoveHigh_, moveMethod_);
    *newPointerLow_ = static_cast<LONG>(low);
    result.lastError = ::GetLastError();
    // With a high part, a position whose low part is all ones is a success that leaves NO_ERROR.
    result.status = low != INVALID_SET_FILE_POINTER || (distanceToMoveHigh_ && result.lastError == NO_ERROR) ? 1 : 0;
    return result;
}

}  // namespace GridApi
