#pragma once

#include <GridApi/Export.h>
#include <StravoHost/FileServicesIf.h>

namespace GridApi {

// The file-services object that the plug-in hands to the server: every operation builds the
// matching command, runs it with a copy of the server's waiting function, and returns what the
// bare Win32 call would have returned, leaving the thread's last error as the command left it.
class GRIDAPI_API GridFileServices : public StravoStorageApi::FileServicesIf {
  public:
    GridFileServices();
    ~GridFileServices() override;

    int getType() override;
    BOOL CreateDirectoryW(const wchar_t* pathName, SECURITY_ATTRIBUTES* securityAttributes) override;
    BOOL CreateDirectoryA(const char* pathName, SECURITY_ATTRIBUTES* securityAttributes) override;
    DWORD GetCurrentDirectoryA(DWORD bufferLength, char* buffer) override;
    BOOL RemoveDirectoryA(const char* pathName, int recursive) override;
    BOOL SetCurrentDirectoryA(const char* pathName) override;
    BOOL GetDiskFreeSpaceA(const char* rootPathName, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                           DWORD* numberOfFreeClusters, DWORD* totalNumberOfClusters) override;
    BOOL GetDiskFreeSpaceExA(const char* directoryName, ULARGE_INTEGER* freeBytesAvailable,
                             ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes) override;
    BOOL CopyFileA(const char* existingFileName, const char* newFileName, BOOL failIfExists) override;
    FileServicesHandle CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                                   DWORD flagsAndAttributes, FileServicesHandle templateFile) override;
    BOOL DeleteFileA(const char* fileName) override;
    BOOL FindClose(FileServicesHandle& findHandle) override;
    FileServicesHandle FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData) override;
    BOOL FindNextFileA(FileServicesHandle& findHandle, WIN32_FIND_DATAA* findData) override;
    BOOL FlushFileBuffers(FileServicesHandle& file) override;
    DWORD GetFileAttributesA(const char* fileName) override;
    BOOL GetFileAttributesExA(const char* fileName, GET_FILEEX_INFO_LEVELS infoLevel, void* fileInformation) override;
    DWORD GetFileSize(FileServicesHandle& file, DWORD* fileSizeHigh) override;
    BOOL GetFileSizeEx(FileServicesHandle& file, LARGE_INTEGER* fileSize) override;
    UINT GetTempFileNameA(const char* pathName, const char* prefixString, UINT unique, char* tempFileName) override;
    BOOL LockFileEx(FileServicesHandle& file, DWORD flags, DWORD reserved, DWORD bytesToLockLow, DWORD bytesToLockHigh,
                    OVERLAPPED* overlapped) override;
    BOOL MoveFileA(const char* existingFileName, const char* newFileName, DWORD flags) override;
    BOOL ReadFile(FileServicesHandle& file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                  OVERLAPPED* overlapped) override;
    BOOL SetEndOfFile(FileServicesHandle& file) override;
    BOOL SetFileAttributesA(const char* fileName, DWORD fileAttributes) override;
    DWORD SetFilePointer(FileServicesHandle& file, LONG distanceToMove, LONG* distanceToMoveHigh,
                         DWORD moveMethod) override;
    BOOL SetFilePointerEx(FileServicesHandle& file, LARGE_INTEGER distanceToMove, LARGE_INTEGER* newFilePointer,
                          DWORD moveMethod) override;
    BOOL UnlockFileEx(FileServicesHandle& file, DWORD reserved, DWORD bytesToUnlockLow, DWORD bytesToUnlockHigh,
                      OVERLAPPED* overlapped) override;
    BOOL WriteFile(FileServicesHandle& file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
                   OVERLAPPED* overlapped) override;
    BOOL CloseHandle(FileServicesHandle& handle) override;
    BOOL PathFileExistsA(const char* path) override;
    BOOL PathIsDirectoryA(const char* path) override;
    BOOL PathIsDirectoryEmptyA(const char* path) override;
};

}  // namespace GridApi

// The plug-in's one entry point: a new file-services object, owned by the caller, who must hold it
// in a boost::shared_ptr before opening files or searches through it.
extern "C" GRIDAPI_API StravoStorageApi::FileServicesIf* createFileServices();
