#pragma once

// The host's file-services interface: the server performs all of its file work on network
// storage through an object of this type, which a storage plug-in hands out.

#include <platform/win32.h>

#include <boost/enable_shared_from_this.hpp>
#include <boost/function.hpp>
#include <boost/noncopyable.hpp>
#include <boost/thread/locks.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include <StravoHost/FileServicesHandle.h>

namespace StravoStorageApi {

// A retry step: runs one rule's log-count-wait step after a failed attempt; true means try again.
typedef boost::function<bool()> RetryStep;
// The server's waiting function: called with a retry step, answers true to try again.
typedef boost::function<bool(RetryStep)> RetryWaiter;

class FileServicesIf : private boost::noncopyable, public boost::enable_shared_from_this<FileServicesIf> {
  public:
    virtual ~FileServicesIf() {}

    virtual int getType() = 0;
    virtual BOOL CreateDirectoryW(const wchar_t* pathName, SECURITY_ATTRIBUTES* securityAttributes) = 0;
    virtual BOOL CreateDirectoryA(const char* pathName, SECURITY_ATTRIBUTES* securityAttributes) = 0;
    virtual DWORD GetCurrentDirectoryA(DWORD bufferLength, char* buffer) = 0;
    virtual BOOL RemoveDirectoryA(const char* pathName, int recursive) = 0;
    virtual BOOL SetCurrentDirectoryA(const char* pathName) = 0;
    virtual BOOL GetDiskFreeSpaceA(const char* rootPathName, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                   DWORD* numberOfFreeClusters, DWORD* totalNumberOfClusters) = 0;
    virtual BOOL GetDiskFreeSpaceExA(const char* directoryName, ULARGE_INTEGER* freeBytesAvailable,
                                     ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes) = 0;
    virtual BOOL CopyFileA(const char* existingFileName, const char* newFileName, BOOL failIfExists) = 0;
    virtual FileServicesHandle CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                                           SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                                           DWORD flagsAndAttributes, FileServicesHandle templateFile) = 0;
    virtual BOOL DeleteFileA(const char* fileName) = 0;
    virtual BOOL FindClose(FileServicesHandle& findHandle) = 0;
    virtual FileServicesHandle FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData) = 0;
    virtual BOOL FindNextFileA(FileServicesHandle& findHandle, WIN32_FIND_DATAA* findData) = 0;
    virtual BOOL FlushFileBuffers(FileServicesHandle& file) = 0;
    virtual DWORD GetFileAttributesA(const char* fileName) = 0;
    virtual BOOL GetFileAttributesExA(const char* fileName, GET_FILEEX_INFO_LEVELS infoLevel,
                                      void* fileInformation) = 0;
    virtual DWORD GetFileSize(FileServicesHandle& file, DWORD* fileSizeHigh) = 0;
    virtual BOOL GetFileSizeEx(FileServicesHandle& file, LARGE_INTEGER* fileSize) = 0;
    virtual UINT GetTempFileNameA(const char* pathName, const char* prefixString, UINT unique, char* tempFileName) = 0;
    virtual BOOL LockFileEx(FileServicesHandle& file, DWORD flags, DWORD reserved, DWORD bytesToLockLow,
                            DWORD bytesToLockHigh, OVERLAPPED* overlapped) = 0;
    virtual BOOL MoveFileA(const char* existingFileName, const char* newFileName, DWORD flags) = 0;
    virtual BOOL ReadFile(FileServicesHandle& file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                          OVERLAPPED* overlapped) = 0;
    virtual BOOL SetEndOfFile(FileServicesHandle& file) = 0;
    virtual BOOL SetFileAttributesA(const char* fileName, DWORD fileAttributes) = 0;
    virtual DWORD SetFilePointer(FileServicesHandle& file, LONG distanceToMove, LONG* distanceToMoveHigh,
                                 DWORD moveMethod) = 0;
    virtual BOOL SetFilePointerEx(FileServicesHandle& file, LARGE_INTEGER distanceToMove, LARGE_INTEGER* newFilePointer,
                                  DWORD moveMethod) = 0;
    virtual BOOL UnlockFileEx(FileServicesHandle& file, DWORD reserved, DWORD bytesToUnlockLow, DWORD bytesToUnlockHigh,
                              OVERLAPPED* overlapped) = 0;
    virtual BOOL WriteFile(FileServicesHandle& file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
                           OVERLAPPED* overlapped) = 0;
    virtual BOOL CloseHandle(FileServicesHandle& handle) = 0;
    virtual BOOL PathFileExistsA(const char* path) = 0;
    virtual BOOL PathIsDirectoryA(const char* path) = 0;
    virtual BOOL PathIsDirectoryEmptyA(const char* path) = 0;
    // A hook the server may call; a plug-in that does not override it ignores it.
    virtual void optionalHook(void* /*argument*/) {}

    // A copy of the waiting function, taken under its lock; the lock is never held while a
    // file operation runs or waits.
    RetryWaiter getRetryWaiter() {
        boost::unique_lock<boost::recursive_mutex> lock(retryWaiterMutex);
        return retryWaiter;
    }

    // The server's way of installing its waiting function (empty: the plug-in waits itself).
    void setRetryWaiter(const RetryWaiter& waiter) {
        boost::unique_lock<boost::recursive_mutex> lock(retryWaiterMutex);
        retryWaiter = waiter;
    }

  protected:
    FileServicesIf() {}

    RetryWaiter retryWaiter;
    boost::recursive_mutex retryWaiterMutex;
};

}  // namespace StravoStorageApi
