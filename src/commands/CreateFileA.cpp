#include <GridApi/CreateFileA.h>
#include <GridApi/FileOperationRetry.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include <StravoHost/Settings.h>

#include "commands/RetryingRun.h"

namespace GridApi {

volatile std::int32_t CreateFileA::writeThroughFlag_ = -1;

CreateFileA::CreateFileA(const std::string& fileName, DWORD desiredAccess, DWORD shareMode,
                         SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                         FileServicesHandle templateFile)
    : CreateFileA(std::string(fileName), desiredAccess, shareMode, securityAttributes, creationDisposition,
                  flagsAndAttributes, std::move(templateFile)) {}

CreateFileA::CreateFileA(std::string&& fileName, DWORD desiredAccess, DWORD shareMode,
                         SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                         FileServicesHandle templateFile)
    : fileName_(std::move(fileName)),
      desiredAccess_(desiredAccess),
      shareMode_(shareMode),
      securityAttributes_(securityAttributes),
      creationDisposition_(creationDisposition),
      flagsAndAttributes_(flagsAndAttributes),
      templateFile_(static_cast<void*>(templateFile)) {
    applyWriteThrough();
}

CreateFileA::~CreateFileA() = default;

void CreateFileA::applyWriteThrough() {
    // Read without a lock (a relaxed atomic load: a plain load on x86-64, and no race for the
    // sanitizer); two first constructions may both read the setting, and the last store stays.
    if (__atomic_load_n(&writeThroughFlag_, __ATOMIC_RELAXED) == -1)
        __atomic_exchange_n(&writeThroughFlag_, readWriteThroughSetting(), __ATOMIC_SEQ_CST);
    // The bit is only ever added: a caller's own write-through stays whatever the setting says.
    if (__atomic_load_n(&writeThroughFlag_, __ATOMIC_RELAXED) == 1) flagsAndAttributes_ |= FILE_FLAG_WRITE_THROUGH;
}

std::int32_t CreateFileA::readWriteThroughSetting() {
    std::int32_t value = writeThroughDefault;
    StravoStorageApi::readGlobalSetting(StaticSingleton::CStaticSingleton<GlobalConfig>::instance(), writeThroughKey,
                                        value, value);
    return value;
}

DWORD CreateFileA::getFlagsAndAttributes() const { return flagsAndAttributes_; }

ErrorStatus CreateFileA::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("CreateFile");
    return RetryingRun(handler, waiter)
        .argument(fileName_)
        .execute([this] { return doOnce(); }, FailureReport("Could not Create File on UNC"), HandleSucceeded());
}

ErrorStatus CreateFileA::doOnce() {
    ErrorStatus result;
    result.handle = systemCalls().CreateFileA(fileName_.c_str(), desiredAccess_, shareMode_, securityAttributes_,
                                              creationDisposition_, flagsAndAttributes_, templateFile_);
    result.lastError = ::GetLastError();
    result.status = static_cast<void*>(result.handle) != INVALID_HANDLE_VALUE ? 1 : 0;
    return result;
}

}  // namespace GridApi
