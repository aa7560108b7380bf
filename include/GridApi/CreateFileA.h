#pragma once

#include <cstdint>
#include <string>

#include <platform/win32.h>

#include <GridApi/GridMethod.h>

namespace GridApi {

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
    void applyWriteThrough();
    static std::int32_t readRegFlag();

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
