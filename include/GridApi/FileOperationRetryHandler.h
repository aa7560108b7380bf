#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <boost/shared_ptr.hpp>

#include <GridApi/FileOperationRetry.h>

namespace StravoStorageApi {

// The retry rules of one kind of file operation, keyed by Win32 error code.
class GRIDAPI_API FileOperationRetryHandler {
  public:
    typedef std::map<std::uint32_t, boost::shared_ptr<FileOperationRetry> > Rules;

    FileOperationRetryHandler();
    FileOperationRetryHandler(const FileOperationRetryHandler& other);
    virtual ~FileOperationRetryHandler();

    // The decision after a failed attempt: no rule for the code -> false, silently; otherwise the
    // rule's step, run by the context's waiting function when it has one.
    bool shouldRetry(std::uint32_t errorCode, RetryHandlerContext& context) const;

    Rules rules;
    std::string operationName;
};

}  // namespace StravoStorageApi
