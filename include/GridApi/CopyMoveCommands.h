#pragma once

// The commands that move data between two paths.

#include <string>

#include <platform/win32.h>

#include <GridApi/GridMethod.h>

class MoveFileWithCheckCRC;

namespace GridApi {

// Retried; the log names both paths, the failure text the destination.
class GRIDAPI_API CopyFileA : public GridMethod {
  public:
    CopyFileA(const std::string& existingFileName, const std::string& newFileName, bool failIfExists);
    GRIDAPI_COMMAND(CopyFileA)

  private:
    std::string existingFileName_;
    std::string newFileName_;
    bool failIfExists_;
};

// Retried; each attempt is the host's verified move, one object for the whole run. The flags are
// MoveFileEx flags, passed on unchanged.
class GRIDAPI_API MoveFileA : public GridMethod {
  public:
    MoveFileA(const std::string& existingFileName, const std::string& newFileName, DWORD flags);
    ~MoveFileA() override;
    ErrorStatus operator()(RetryWaiter waiter) override;

  protected:
    ErrorStatus doOnce(MoveFileWithCheckCRC& move);

  private:
    std::string existingFileName_;
    std::string newFileName_;
    DWORD flags_;
};

// One plain MoveFileExA attempt; the paths stay the caller's.
class GRIDAPI_API MoveFileExA : public GridMethod {
  public:
    MoveFileExA(const char* existingFileName, const char* newFileName, DWORD flags);
    GRIDAPI_COMMAND(MoveFileExA)

  private:
    const char* existingFileName_;
    const char* newFileName_;
    DWORD flags_;
};

}  // namespace GridApi
