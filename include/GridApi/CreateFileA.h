#pragma once

#include <cstdint>
#include <string>

#include <platform/win32.h>

#include <GridApi/GridMethod.h>

namespace GridApi {

// The setting that adds FILE_FLAG_WRITE_THROUGH to every open when it is 1, and its default.
constexpr const char* writeThroughKey = "UncCreateFileWriteThough";
constexpr std::int32_t writeThroughDefault = 1;

// Opens or creates a file; retried. Success is judged by the handle. Every file is opened with
// write-through (FILE_FLAG_WRITE_THROUGH added) unless the global setting "UncCreateFileWriteThough"
// is anything but 1; the setting is read once per process, at the first construction.
class GRIDAPI_API CreateFileA : public GridMethod {
  public:
    CreateFileA(const std::string& fileName, DWORD desiredAccess, DWORD shareMode,
                SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                FileServicesHandle templateFile);
    CreateFileA(std::string&& fileName, DWORD desiredAccess, DWORD shareMode, SECURITY_ATTRIBUTES* securityAttributes,
                DWORD creationDisposition, DWORD flagsAndAttributes, FileServicesHandle templateFile);

    // The caller's flags, with the write-through bit when the setting added it.
    DWORD getFlagsAndAttributes() const;

    GRIDAPI_COMMAND(CreateFileA)

  private:
    void applyWriteThrough();
    // Reads "UncCreateFileWriteThough" (default 1) as every global setting is read: from the
    // settings database, or from the node's own store when the host names the key node-local.
    static std::int32_t readWriteThroughSetting();

    std::string fileName_;
    DWORD desiredAccess_;
    DWORD shareMode_;
    SECURITY_ATTRIBUTES* securityAttributes_;
    DWORD creationDisposition_;
    DWORD flagsAndAttributes_;
    HANDLE templateFile_;

    // The setting as read: -1 until the first construction has read it; exactly 1 means on.
    static volatile std::int32_t writeThroughFlag_;
};

}  // namespace GridApi
