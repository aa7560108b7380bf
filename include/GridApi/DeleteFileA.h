#pragma once

#include <string>

#include <GridApi/GridMethod.h>

namespace GridApi {

// Deletes a file; retried on network-share errors.
class GRIDAPI_API DeleteFileA : public GridMethod {
  public:
    explicit DeleteFileA(const std::string& fileName);
    ~DeleteFileA() override;
    ErrorStatus operator()(RetryWaiter waiter) override;

  protected:
    ErrorStatus doOnce();

  private:
    std::string fileName_;
};

}  // namespace GridApi
