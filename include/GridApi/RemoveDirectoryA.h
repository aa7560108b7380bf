#pragma once

#include <string>

#include <GridApi/GridMethod.h>

namespace GridApi {

// Removes a directory; retried. With recursive 0 only an empty directory (RemoveDirectoryA); with
// any other value the directory and everything below it, a new attempt continuing with what is left.
class GRIDAPI_API RemoveDirectoryA : public GridMethod {
  public:
    RemoveDirectoryA(const std::string& pathName, int recursive);
    GRIDAPI_COMMAND(RemoveDirectoryA)

  private:
    std::string pathName_;
    int recursive_;
};

}  // namespace GridApi
