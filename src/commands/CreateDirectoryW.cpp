#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "commands/RetryingRun.h"

namespace GridApi {

CreateDirectoryW::CreateDirectoryW(const std::wstring& pathName, SECURITY_ATTRIBUTES* securityAttributes)
    : pathName_(pathName), securityAttributes_(securityAttributes) {}

CreateDirectoryW::~CreateDirectoryW() = default;

ErrorStatus CreateDirectoryW::operator()(RetryWaiter waiter) {
    static const UncFileOperationRetryHandler handler("CreateDirectoryW");
    // The log shows the wide path narrowed unit by unit (the low 8 bits of each unit, no code page);
    // the error record keeps the wide path itself.
    std::string narrow(pathName_.size(), '\0');
    for (std::size_t i = 0; i < pathName_.size(); ++i) narrow[i] = static_cast<char>(pathName_[i] & 0xFF);
    FailureReport failure("Could not Create Directory(W) on UNC");
    failure.widePath = &pathName_;
    return RetryingRun(handler, waiter).argument(narrow).execute([this] { return doOnce(); }, failure);
}

ErrorStatus CreateDirectoryW::doOnce() {
    ErrorStatus result;
    result.status = systemCalls().CreateDirectoryW(pathName_.c_str(), securityAttributes_);
    result.lastError = ::GetLastError();
    if (result.lastError == ERROR_ALREADY_EXISTS) result.status = 1;
    return result;
}

}  // namespace GridApi
