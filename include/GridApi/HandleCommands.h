#pragma once

// The commands that work on an open handle. Each keeps a reference to the caller's handle object
// and changes it in place: a re-created raw handle, the kept file position, a cleared record. One
// handle must not be used by two threads at once.

#include <platform/win32.h>

#include <GridApi/GridMethod.h>

namespace GridApi {

// Re-opens a lost file handle through its own file-services object: closes it, opens the file again
// with OPEN_ALWAYS and the recorded parameters, and moves to the kept position. False when the
// handle has no record, the old handle cannot be closed, or the file cannot be opened and positioned
// (the handle is then left lost: a null raw handle that keeps its record).
GRIDAPI_API bool recreateHandle(FileServicesHandle& handle);

// One attempt; on success the handle's record is cleared.
class GRIDAPI_API CloseHandle : public GridMethod {
  public:
    explicit CloseHandle(FileServicesHandle& handle);
    GRIDAPI_COMMAND(CloseHandle)

  private:
    FileServicesHandle& handle_;
};

// One attempt; the search handle's record stays.
class GRIDAPI_API FindClose : public GridMethod {
  public:
    explicit FindClose(FileServicesHandle& handle);
    GRIDAPI_COMMAND(FindClose)

  private:
    FileServicesHandle& handle_;
};

class GRIDAPI_API FindNextFileA : public GridMethod {
  public:
    FindNextFileA(FileServicesHandle& handle, WIN32_FIND_DATAA* findData);
    GRIDAPI_COMMAND(FindNextFileA)

  private:
    FileServicesHandle& handle_;
    WIN32_FIND_DATAA* findData_;
};

// One attempt; does nothing (status 0, last error untouched) for a handle opened with write-through.
class GRIDAPI_API FlushFileBuffers : public GridMethod {
  public:
    explicit FlushFileBuffers(FileServicesHandle& handle);
    GRIDAPI_COMMAND(FlushFileBuffers)

  private:
    FileServicesHandle& handle_;
};

class GRIDAPI_API GetFileSize : public GridMethod {
  public:
    GetFileSize(FileServicesHandle& handle, DWORD* fileSizeHigh);
    GRIDAPI_COMMAND(GetFileSize)

  private:
    FileServicesHandle& handle_;
    DWORD* fileSizeHigh_;
};

class GRIDAPI_API GetFileSizeEx : public GridMethod {
  public:
    GetFileSizeEx(FileServicesHandle& handle, LARGE_INTEGER* fileSize);
    GRIDAPI_COMMAND(GetFileSizeEx)

  private:
    FileServicesHandle& handle_;
    LARGE_INTEGER* fileSize_;
};

class GRIDAPI_API LockFileEx : public GridMethod {
  public:
    LockFileEx(FileServicesHandle& handle, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
               OVERLAPPED* overlapped);
    GRIDAPI_COMMAND(LockFileEx)

  private:
    FileServicesHandle& handle_;
    DWORD flags_;
    DWORD reserved_;
    DWORD bytesLow_;
    DWORD bytesHigh_;
    OVERLAPPED* overlapped_;
};

// Retried; each granted retry re-creates the handle first, so an interrupted transfer is repeated
// from the kept position. After a success the new position is kept.
class GRIDAPI_API ReadFile : public GridMethod {
  public:
    ReadFile(FileServicesHandle& handle, void* buffer, DWORD bytesToTransfer, DWORD* bytesTransferred,
             OVERLAPPED* overlapped);
    GRIDAPI_COMMAND(ReadFile)

  private:
    FileServicesHandle& handle_;
    void* buffer_;
    DWORD bytesToTransfer_;
    DWORD* bytesTransferred_;
    OVERLAPPED* overlapped_;
};

class GRIDAPI_API SetEndOfFile : public GridMethod {
  public:
    explicit SetEndOfFile(FileServicesHandle& handle);
    GRIDAPI_COMMAND(SetEndOfFile)

  private:
    FileServicesHandle& handle_;
};

// One attempt; on success the new position is kept in the handle. newPointerLow receives the low
// part and must not be null; distanceToMoveHigh may be.
class GRIDAPI_API SetFilePointer : public GridMethod {
  public:
    SetFilePointer(FileServicesHandle& handle, LONG distanceToMove, LONG* newPointerLow, LONG* distanceToMoveHigh,
                   DWORD moveMethod);
    GRIDAPI_COMMAND(SetFilePointer)

  private:
    FileServicesHandle& handle_;
    LONG distanceToMove_;
    LONG* newPointerLow_;
    LONG* distanceToMoveHigh_;
    DWORD moveMethod_;
};

// One attempt; on success with a new-position pointer the position is kept in the handle.
class GRIDAPI_API SetFilePointerEx : public GridMethod {
  public:
    SetFilePointerEx(FileServicesHandle& handle, LARGE_INTEGER distanceToMove, LARGE_INTEGER* newFilePointer,
                     DWORD moveMethod);
    GRIDAPI_COMMAND(SetFilePointerEx)

  private:
    FileServicesHandle& handle_;
    LARGE_INTEGER distanceToMove_;
    LARGE_INTEGER* newFilePointer_;
    DWORD moveMethod_;
};

class GRIDAPI_API UnlockFileEx : public GridMethod {
  public:
    UnlockFileEx(FileServicesHandle& handle, DWORD reserved, DWORD bytesLow, DWORD bytesHigh, OVERLAPPED* overlapped);
    GRIDAPI_COMMAND(UnlockFileEx)

  private:
    FileServicesHandle& handle_;
    DWORD reserved_;
    DWORD bytesLow_;
    DWORD bytesHigh_;
    OVERLAPPED* overlapped_;
};

// As ReadFile.
class GRIDAPI_API WriteFile : public GridMethod {
  public:
    WriteFile(FileServicesHandle& handle, const void* buffer, DWORD bytesToTransfer, DWORD* bytesTransferred,
              OVERLAPPED* overlapped);
    GRIDAPI_COMMAND(WriteFile)

  private:
    FileServicesHandle& handle_;
    const void* buffer_;
    DWORD bytesToTransfer_;
    DWORD* bytesTransferred_;
    OVERLAPPED* overlapped_;
};

}  // namespace GridApi
