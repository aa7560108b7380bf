#pragma once

// The commands that work on a path rather than on an open handle. Each captures its arguments when
// it is built: a std::string path is the command's own copy; a character pointer is the caller's
// and is read anew at every attempt.

#include <string>

#include <platform/win32.h>

#include <GridApi/GridMethod.h>

namespace GridApi {

// Retried; ERROR_ALREADY_EXISTS counts as success.
class GRIDAPI_API CreateDirectoryA : public GridMethod {
  public:
    CreateDirectoryA(const std::string& pathName, SECURITY_ATTRIBUTES* securityAttributes);
    GRIDAPI_COMMAND(CreateDirectoryA)

  private:
    std::string pathName_;
    SECURITY_ATTRIBUTES* securityAttributes_;
};

// As CreateDirectoryA, for a wide path.
class GRIDAPI_API CreateDirectoryW : public GridMethod {
  public:
    CreateDirectoryW(const std::wstring& pathName, SECURITY_ATTRIBUTES* securityAttributes);
    GRIDAPI_COMMAND(CreateDirectoryW)

  private:
    std::wstring pathName_;
    SECURITY_ATTRIBUTES* securityAttributes_;
};

// Retried.
class GRIDAPI_API DeleteFileA : public GridMethod {
  public:
    explicit DeleteFileA(const std::string& fileName);
    explicit DeleteFileA(std::string&& fileName);
    GRIDAPI_COMMAND(DeleteFileA)

  private:
    std::string fileName_;
};

// Retried; no match (2) and path not found (3) are answers, not failures.
class GRIDAPI_API FindFirstFileA : public GridMethod {
  public:
    FindFirstFileA(const std::string& fileName, WIN32_FIND_DATAA* findFileData);
    GRIDAPI_COMMAND(FindFirstFileA)

  private:
    std::string fileName_;
    WIN32_FIND_DATAA* findFileData_;
};

// One attempt.
class GRIDAPI_API GetCurrentDirectoryA : public GridMethod {
  public:
    GetCurrentDirectoryA(DWORD bufferLength, char* buffer);
    GRIDAPI_COMMAND(GetCurrentDirectoryA)

  private:
    DWORD bufferLength_;
    char* buffer_;
};

// Retried.
class GRIDAPI_API GetDiskFreeSpaceA : public GridMethod {
  public:
    GetDiskFreeSpaceA(const std::string& rootPathName, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                      DWORD* numberOfFreeClusters, DWORD* totalNumberOfClusters);
    GRIDAPI_COMMAND(GetDiskFreeSpaceA)

  private:
    std::string rootPathName_;
    DWORD* sectorsPerCluster_;
    DWORD* bytesPerSector_;
    DWORD* numberOfFreeClusters_;
    DWORD* totalNumberOfClusters_;
};

// Retried; the path stays the caller's.
class GRIDAPI_API GetDiskFreeSpaceExA : public GridMethod {
  public:
    GetDiskFreeSpaceExA(const char* directoryName, ULARGE_INTEGER* freeBytesAvailableToCaller,
                        ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes);
    GRIDAPI_COMMAND(GetDiskFreeSpaceExA)

  private:
    const char* directoryName_;
    ULARGE_INTEGER* freeBytesAvailableToCaller_;
    ULARGE_INTEGER* totalNumberOfBytes_;
    ULARGE_INTEGER* totalNumberOfFreeBytes_;
};

// Retried; the attributes are the result's value.
class GRIDAPI_API GetFileAttributesA : public GridMethod {
  public:
    explicit GetFileAttributesA(const std::string& fileName);
    explicit GetFileAttributesA(std::string&& fileName);
    GRIDAPI_COMMAND(GetFileAttributesA)

  private:
    std::string fileName_;
};

// Retried; the path stays the caller's.
class GRIDAPI_API GetFileAttributesExA : public GridMethod {
  public:
    GetFileAttributesExA(const char* fileName, GET_FILEEX_INFO_LEVELS infoLevelId, void* fileInformation);
    GRIDAPI_COMMAND(GetFileAttributesExA)

  private:
    const char* fileName_;
    GET_FILEEX_INFO_LEVELS infoLevelId_;
    void* fileInformation_;
};

// One attempt; a null output buffer is replaced by a scratch buffer.
class GRIDAPI_API GetTempFileNameA : public GridMethod {
  public:
    GetTempFileNameA(const char* pathName, const char* prefixString, UINT unique, char* tempFileName);
    GRIDAPI_COMMAND(GetTempFileNameA)

  private:
    const char* pathName_;
    const char* prefixString_;
    UINT unique_;
    char* tempFileName_;
};

// One attempt.
class GRIDAPI_API SetCurrentDirectoryA : public GridMethod {
  public:
    explicit SetCurrentDirectoryA(const char* pathName);
    GRIDAPI_COMMAND(SetCurrentDirectoryA)

  private:
    const char* pathName_;
};

// Retried.
class GRIDAPI_API SetFileAttributesA : public GridMethod {
  public:
    SetFileAttributesA(const std::string& fileName, DWORD fileAttributes);
    GRIDAPI_COMMAND(SetFileAttributesA)

  private:
    std::string fileName_;
    DWORD fileAttributes_;
};

}  // namespace GridApi
