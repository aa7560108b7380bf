#include <GridApi/GridFileServices.h>

#include <string>
#include <utility>

#include <GridApi/CopyMoveCommands.h>
#include <GridApi/CreateFileA.h>
#include <GridApi/ErrorStatus.h>
#include <GridApi/HandleCommands.h>
#include <GridApi/PathCommands.h>
#include <GridApi/PathQueries.h>
#include <GridApi/RemoveDirectoryA.h>
#include <GridApi/SystemCalls.h>

namespace GridApi {

namespace {

using StravoStorageApi::FileServicesIf;

// Builds the command with the arguments, runs it with a copy of the object's waiting function.
template <class Command, class... Args>
ErrorStatus run(FileServicesIf& services, Args&&... args) {
    Command command(std::forward<Args>(args)...);
    return command(services.getRetryWaiter());
}

BOOL toBool(const ErrorStatus& result) { return result.status > 0 ? TRUE : FALSE; }

// Wraps the raw handle of an opening run into the handle object the server receives. It holds a
// shared reference to this object, so the object must be held by a boost::shared_ptr; if it is not,
// boost::bad_weak_ptr leaves the operation and the raw handle is closed first.
FileServicesHandle wrapHandle(FileServicesIf& services, HandleRecreationInfo&& info, HANDLE raw,
                              BOOL(WINAPI* closeRaw)(HANDLE)) {
    boost::shared_ptr<FileServicesIf> self;
    try {
        self = services.shared_from_this();
    } catch (...) {
        if (raw != INVALID_HANDLE_VALUE) closeRaw(raw);
        throw;
    }
    return FileServicesHandle(std::move(self), std::move(info), raw);
}

BOOL WINAPI closeFile(HANDLE raw) { return systemCalls().CloseHandle(raw); }
BOOL WINAPI closeSearch(HANDLE raw) { return systemCalls().FindClose(raw); }

}  // namespace

GridFileServices::GridFileServices() = default;

GridFileServices::~GridFileServices() = default;

int GridFileServices::getType() { return 2; }

// A null path cannot become a command's own copy: such an operation is answered as the bare call
// answers it, in one attempt and without a report, never by an exception across the boundary.

BOOL GridFileServices::CreateDirectoryW(const wchar_t* pathName, SECURITY_ATTRIBUTES* securityAttributes) {
    if (!pathName) return systemCalls().CreateDirectoryW(pathName, securityAttributes);
    return toBool(run<GridApi::CreateDirectoryW>(*this, std::wstring(pathName), securityAttributes));
}

BOOL GridFileServices::CreateDirectoryA(const char* pathName, SECURITY_ATTRIBUTES* securityAttributes) {
    if (!pathName) return systemCalls().CreateDirectoryA(pathName, securityAttributes);
    return toBool(run<GridApi::CreateDirectoryA>(*this, std::string(pathName), securityAttributes));
}

DWORD GridFileServices::GetCurrentDirectoryA(DWORD bufferLength, char* buffer) {
    return run<GridApi::GetCurrentDirectoryA>(*this, bufferLength, buffer).value;
}

BOOL GridFileServices::RemoveDirectoryA(const char* pathName, int recursive) {
    if (!pathName) return systemCalls().RemoveDirectoryA(pathName);
    return toBool(run<GridApi::RemoveDirectoryA>(*this, std::string(pathName), recursive));
}

BOOL GridFileServices::SetCurrentDirectoryA(const char* pathName) {
    return toBool(run<GridApi::SetCurrentDirectoryA>(*this, pathName));
}

BOOL GridFileServices::GetDiskFreeSpaceA(const char* rootPathName, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                         DWORD* numberOfFreeClusters, DWORD* totalNumberOfClusters) {
    if (!rootPathName)
        return systemCalls().GetDiskFreeSpaceA(rootPathName, sectorsPerCluster, bytesPerSector, numberOfFreeClusters,
                                               totalNumberOfClusters);
    return toBool(run<GridApi::GetDiskFreeSpaceA>(*this, std::string(rootPathName), sectorsPerCluster, bytesPerSector,
                                                  numberOfFreeClusters, totalNumberOfClusters));
}

BOOL GridFileServices::GetDiskFreeSpaceExA(const char* directoryName, ULARGE_INTEGER* freeBytesAvailable,
                                           ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes) {
    return toBool(run<GridApi::GetDiskFreeSpaceExA>(*this, directoryName, freeBytesAvailable, totalNumberOfBytes,
                                                    totalNumberOfFreeBytes));
}

BOOL GridFileServices::CopyFileA(const char* existingFileName, const char* newFileName, BOOL failIfExists) {
    if (!existingFileName || !newFileName) return systemCalls().CopyFileA(existingFileName, newFileName, failIfExists);
    // Only exactly 1 refuses to overwrite.
    return toBool(
        run<GridApi::CopyFileA>(*this, std::string(existingFileName), std::string(newFileName), failIfExists == 1));
}

FileServicesHandle GridFileServices::CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                                                 SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                                                 DWORD flagsAndAttributes, FileServicesHandle templateFile) {
    if (!fileName) {
        FileServicesHandle none;
        none = systemCalls().CreateFileA(fileName, desiredAccess, shareMode, securityAttributes, creationDisposition,
                                         flagsAndAttributes, templateFile);
        return none;
    }
    GridApi::CreateFileA command(std::string(fileName), desiredAccess, shareMode, securityAttributes,
                                 creationDisposition, flagsAndAttributes, templateFile);
    const ErrorStatus result = command(getRetryWaiter());
    HandleRecreationInfo info;
    if (result.status != 0) {
        info.fileName = fileName;
        info.desiredAccess = desiredAccess;
        info.shareMode = shareMode;
        if (securityAttributes) info.securityAttributes = *securityAttributes;
        info.creationDisposition = creationDisposition;
        info.flagsAndAttributes = command.getFlagsAndAttributes();
        info.templateFile = static_cast<void*>(templateFile);
    }
    return wrapHandle(*this, std::move(info), result.handle, closeFile);
}

BOOL GridFileServices::DeleteFileA(const char* fileName) {
    if (!fileName) return systemCalls().DeleteFileA(fileName);
    return toBool(run<GridApi::DeleteFileA>(*this, std::string(fileName)));
}

BOOL GridFileServices::FindClose(FileServicesHandle& findHandle) {
    return toBool(run<GridApi::FindClose>(*this, findHandle));
}

FileServicesHandle GridFileServices::FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData) {
    if (!fileName) {
        FileServicesHandle none;
        none = systemCalls().FindFirstFileA(fileName, findData);
        return none;
    }
    const ErrorStatus result = run<GridApi::FindFirstFileA>(*this, std::string(fileName), findData);
    // A search handle's record carries only the pattern.
    HandleRecreationInfo info;
    if (result.status != 0) info.fileName = fileName;
    return wrapHandle(*this, std::move(info), result.handle, closeSearch);
}

BOOL GridFileServices::FindNextFileA(FileServicesHandle& findHandle, WIN32_FIND_DATAA* findData) {
    return toBool(run<GridApi::FindNextFileA>(*this, findHandle, findData));
}

BOOL GridFileServices::FlushFileBuffers(FileServicesHandle& file) {
    return toBool(run<GridApi::FlushFileBuffers>(*this, file));
}

DWORD GridFileServices::GetFileAttributesA(const char* fileName) {
    if (!fileName) return systemCalls().GetFileAttributesA(fileName);
    return run<GridApi::GetFileAttributesA>(*this, std::string(fileName)).value;
}

BOOL GridFileServices::GetFileAttributesExA(const char* fileName, GET_FILEEX_INFO_LEVELS infoLevel,
                                            void* fileInformation) {
    if (!fileName) return systemCalls().GetFileAttributesExA(fileName, infoLevel, fileInformation);
    return toBool(run<GridApi::GetFileAttributesExA>(*this, fileName, infoLevel, fileInformation));
}

DWORD GridFileServices::GetFileSize(FileServicesHandle& file, DWORD* fileSizeHigh) {
    return run<GridApi::GetFileSize>(*this, file, fileSizeHigh).value;
}

BOOL GridFileServices::GetFileSizeEx(FileServicesHandle& file, LARGE_INTEGER* fileSize) {
    return toBool(run<GridApi::GetFileSizeEx>(*this, file, fileSize));
}

UINT GridFileServices::GetTempFileNameA(const char* pathName, const char* prefixString, UINT unique,
                                        char* tempFileName) {
    return run<GridApi::GetTempFileNameA>(*this, pathName, prefixString, unique, tempFileName).value;
}

BOOL GridFileServices::LockFileEx(FileServicesHandle& file, DWORD flags, DWORD reserved, DWORD bytesToLockLow,
                                  DWORD bytesToLockHigh, OVERLAPPED* overlapped) {
    return toBool(run<GridApi::LockFileEx>(*this, file, flags, reserved, bytesToLockLow, bytesToLockHigh, overlapped));
}

BOOL GridFileServices::MoveFileA(const char* existingFileName, const char* newFileName, DWORD flags) {
    if (!existingFileName || !newFileName) return systemCalls().MoveFileExA(existingFileName, newFileName, flags);
    return toBool(run<GridApi::MoveFileA>(*this, std::string(existingFileName), std::string(newFileName), flags));
}

BOOL GridFileServices::ReadFile(FileServicesHandle& file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                                OVERLAPPED* overlapped) {
    return toBool(run<GridApi::ReadFile>(*this, file, buffer, bytesToRead, bytesRead, overlapped));
}

BOOL GridFileServices::SetEndOfFile(FileServicesHandle& file) {
    return toBool(run<GridApi::SetEndOfFile>(*this, file));
}

BOOL GridFileServices::SetFileAttributesA(const char* fileName, DWORD fileAttributes) {
    if (!fileName) return systemCalls().SetFileAttributesA(fileName, fileAttributes);
    return toBool(run<GridApi::SetFileAttributesA>(*this, std::string(fileName), fileAttributes));
}

DWORD GridFileServices::SetFilePointer(FileServicesHandle& file, LONG distanceToMove, LONG* distanceToMoveHigh,
                                       DWORD moveMethod) {
    LONG newPointerLow = 0;
    run<GridApi::SetFilePointer>(*this, file, distanceToMove, &newPointerLow, distanceToMoveHigh, moveMethod);
    return static_cast<DWORD>(newPointerLow);
}

BOOL GridFileServices::SetFilePointerEx(FileServicesHandle& file, LARGE_INTEGER distanceToMove,
                                        LARGE_INTEGER* newFilePointer, DWORD moveMethod) {
    return toBool(run<GridApi::SetFilePointerEx>(*this, file, distanceToMove, newFilePointer, moveMethod));
}

BOOL GridFileServices::UnlockFileEx(FileServicesHandle& file, DWORD reserved, DWORD bytesToUnlockLow,
                                    DWORD bytesToUnlockHigh, OVERLAPPED* overlapped) {
    return toBool(run<GridApi::UnlockFileEx>(*this, file, reserved, bytesToUnlockLow, bytesToUnlockHigh, overlapped));
}

BOOL GridFileServices::WriteFile(FileServicesHandle& file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
                                 OVERLAPPED* overlapped) {
    return toBool(run<GridApi::WriteFile>(*this, file, buffer, bytesToWrite, bytesWritten, overlapped));
}

BOOL GridFileServices::CloseHandle(FileServicesHandle& handle) {
    return toBool(run<GridApi::CloseHandle>(*this, handle));
}

BOOL GridFileServices::PathFileExistsA(const char* path) {
    if (!path) return systemCalls().PathFileExistsA(path);
    return toBool(run<GridApi::PathFileExistsA>(*this, std::string(path)));
}

BOOL GridFileServices::PathIsDirectoryA(const char* path) {
    if (!path) return systemCalls().PathIsDirectoryA(path) ? TRUE : FALSE;
    return toBool(run<GridApi::PathIsDirectoryA>(*this, std::string(path)));
}

BOOL GridFileServices::PathIsDirectoryEmptyA(const char* path) {
    if (!path) return systemCalls().PathIsDirectoryEmptyA(path);
    return toBool(run<GridApi::PathIsDirectoryEmptyA>(*this, std::string(path)));
}

}  // namespace GridApi

extern "C" GRIDAPI_API StravoStorageApi::FileServicesIf* createFileServices() {
    return new GridApi::GridFileServices();
}
