#pragma once

#include <string>

#include <GridApi/FileOperationRetryHandler.h>

namespace GridApi {

// The retry handler of this storage: registers the fourteen rules of network-share errors.
class GRIDAPI_API UncFileOperationRetryHandler : public StravoStorageApi::FileOperationRetryHandler {
  public:
    explicit UncFileOperationRetryHandler(const std::string& operationName);
    UncFileOperationRetryHandler(const UncFileOperationRetryHandler& other);
    UncFileOperationRetryHandler& operator=(const UncFileOperationRetryHandler& other);
    ~UncFileOperationRetryHandler() override;

  protected:
    // Builds the fourteen rules (each reads its settings) and registers them by error code.
    void setup();
};

// Path queries: not-found (and for some, exists / invalid name) is an answer, not a failure.
class GRIDAPI_API PathFileExistsRetryHandler : public UncFileOperationRetryHandler {
  public:
    PathFileExistsRetryHandler();
    ~PathFileExistsRetryHandler() override;
};

class GRIDAPI_API PathIsDirectoryRetryHandler : public UncFileOperationRetryHandler {
  public:
    PathIsDirectoryRetryHandler();
    ~PathIsDirectoryRetryHandler() override;
};

class GRIDAPI_API PathIsDirectoryEmptyRetryHandler : public UncFileOperationRetryHandler {
  public:
    PathIsDirectoryEmptyRetryHandler();
    ~PathIsDirectoryEmptyRetryHandler() override;
};

}  // namespace GridApi
