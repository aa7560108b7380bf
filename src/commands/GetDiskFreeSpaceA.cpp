#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

GetDiskFreeSpaceA::GetDiskFreeSpaceA(const std::string& rootPathName, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                     DWORD* numberOfFreeClusters, DWORD* totalNumberOfClusters)
    : rootPathName_(rootPathName),
      sectorsPerCluster_(sectorsPerCluster),
      bytesPerSector_(bytesPerSector),
      numberOfFreeClusters_(numberOfFreeClusters),
      totalNumberOfClusters_(totalNumberOfClusters) {}

GetDiskFreeSpaceA::~GetDiskFreeSpaceA() = default;

ErrorStatus GetDiskFreeSpaceA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("GetDiskFreeSpace");
    return RetryingRun(handler, waiter)
        .argument(rootPathName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Get Disk Free Space on UNC"));
}

ErrorStatus GetDiskFreeSpaceA::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().GetDiskFreeSpaceA(rootPathName_.c_str(), sectorsPerCluster_, bytesPerSector_,
                                                    numberOfFreeClusters_, totalNumberOfClusters_);
    result.lastError = ::GetLastError();
    return result;
}

}  // namespace GridApi
