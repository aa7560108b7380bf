#include <GridApi/HandleCommands.h>
#include <GridApi/SystemCalls.h>

#include "commands/TransferRun.h"

namespace GridApi {

ReadFile::ReadFile(FileServicesHandle& handle, void* buffer, DWORD bytesToTransfer, DWORD* bytesTransferred,
                   OVERLAPPED* overlapped)
    : handle_(handle),
      buffer_(buffer),
      bytesToTransfer_(bytesToTransfer),
      bytesTransferred_(bytesTransferred),
      overlapped_(overlapped) {}

ReadFile::~ReadFile() = default;

ErrorStatus ReadFile::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("ReadFile");
    return runTransfer(
        handler, handle_, waiter, [this] { return doOnce(); }, "Could not Read from file on UNC");
}

ErrorStatus ReadFile::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().ReadFile(handle_, buffer_, bytesToTransfer_, bytesTransferred_, overlapped_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
