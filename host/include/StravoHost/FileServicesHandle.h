#pragma once

// A file or search handle as the server's file services hand it out: the raw handle, the
// file-services object that made it, and what is needed to open the file again.

#include <string>

#include <boost/shared_ptr.hpp>

#include <platform/win32.h>

#include <StravoHost/Export.h>

namespace StravoStorageApi {
class FileServicesIf;
}

// The arguments a handle was opened with and its last known file pointer, kept so that the
// handle can be re-created after a connection loss. A default record is empty: no name, all
// numbers zero, no security attributes, no template.
struct HandleRecreationInfo {
    std::string fileName;
    LONG currFilePointerLow = 0;
    LONG currFilePointerHigh = 0;
    DWORD desiredAccess = 0;
    DWORD shareMode = 0;
    SECURITY_ATTRIBUTES securityAttributes = {};
    DWORD creationDisposition = 0;
    DWORD flagsAndAttributes = 0;
    HANDLE templateFile = nullptr;
};

class STRAVOHOST_API FileServicesHandle {
  public:
    // No handle: the raw value is INVALID_HANDLE_VALUE, there is no file-services object and the
    // record is empty.
    FileServicesHandle();
    FileServicesHandle(boost::shared_ptr<StravoStorageApi::FileServicesIf> api, const HandleRecreationInfo& info,
                       HANDLE raw);
    // The same, taking the record over.
    FileServicesHandle(boost::shared_ptr<StravoStorageApi::FileServicesIf> api, HandleRecreationInfo&& info,
                       HANDLE raw);
    FileServicesHandle(const FileServicesHandle& other);
    FileServicesHandle& operator=(const FileServicesHandle& other);
    FileServicesHandle(FileServicesHandle&& other) noexcept;
    FileServicesHandle& operator=(FileServicesHandle&& other) noexcept;
    ~FileServicesHandle();

    // Replaces only the raw handle; the file-services object and the record stay.
    FileServicesHandle& operator=(void* raw);
    operator void*() const;

    boost::shared_ptr<StravoStorageApi::FileServicesIf> api() const;
    const std::string& fileName() const;
    const HandleRecreationInfo& getHandleRecreationInfo() const;
    // True when the record names a file.
    bool hasRecreationInfo() const;
    // Empties the record (the raw handle and the file-services object stay).
    void resetRectreationInfo();
    void setCurrFilePointer(LONG low, LONG high);

  private:
    HANDLE raw_;
    boost::shared_ptr<StravoStorageApi::FileServicesIf> api_;
    HandleRecreationInfo info_;
};
