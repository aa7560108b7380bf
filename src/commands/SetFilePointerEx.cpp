#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/RetryingRun.h"

namespace GridApi {

SetFilePointerEx::SetFilePointerEx(FileServicesHandle& handle, LARGE_INTEGER distanceToMove,
                                   LARGE_INTEGER* newFilePointer, DWORD moveMethod)
    : handle_(handle), distanceToMove_(distanceToMove), newFilePointer_(newFilePointer), moveMethod_(moveMethod) {}

SetFilePointerEx::~SetFilePointerEx() = default;

ErrorStatus SetFilePointerEx::operator()(RetryWaiter) {
    ErrorStatus result = runOnce([this] { return doOnce(); });
    // Without a pointer for the new position the file pointer moves but the kept position stays.
    if (result.status != 0 && newFilePointer_) {
        handle_.setCurrFilePointer(static_cast<LONG>(newFilePointer_->LowPart), newFilePointer_->HighPart);
    }
    return result;
}

ErrorStatus SetFilePointerEx::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().SetFilePointerEx(handle_, distanceToMove_, newFilePointer_, moveMethod_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
