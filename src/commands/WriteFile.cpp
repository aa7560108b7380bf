#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/TransferRun.h"

namespace GridApi {

WriteFile::WriteFile(FileServicesHandle& handle, const void* buffer, DWORD bytesToTransfer, DWORD* bytesTransferred,
                     OVERLAPPED* overlapped)
    : handle_(handle),
      buffer_(buffer),
      bytesToTransfer_(bytesToTransfer),
      bytesTransferred_(bytesTransferred),
      overlapped_(overlapped) {}

WriteFile::~WriteFile() = default;

ErrorStatus WriteFile::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("WriteFile");
    return runTransfer(
        handler, handle_, waiter, [this] { return doOnce(); }, "Could not Write to file on UNC");
}

ErrorStatus WriteFile::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().WriteFile(handle_, buffer_, bytesToTransfer_, bytesTransferred_, overlapped_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
