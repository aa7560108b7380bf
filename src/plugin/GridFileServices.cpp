#include <GridApi/GridFileServices.h>

#include <string>

#include <GridApi/DeleteFileA.h>
#include <GridApi/ErrorStatus.h>

namespace GridApi {

namespace {

// Builds the command with the arguments, runs it with a copy of the object's waiting function.
template <class Command, class... Args>
ErrorStatus run(StravoStorageApi::FileServicesIf& services, Args&&... args) {
    Command command(std::forward<Args>(args)...);
    return command(services.getRetryWaiter());
}

BOOL toBool(const ErrorStatus& result) { return result.status > 0 ? TRUE : FALSE; }

// Operations whose commands are not part of this build yet fail as Windows fails an unsupported call.
template <class Result>
Result notImplemented(Result failure) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return failure;
}

}  // namespace

GridFileServices::GridFileServices() = default;

GridFileServices::~GridFileServices() = default;

int GridFileServices::getType() { return 2; }

BOOL GridFileServices::CreateDirectoryW(const wchar_t*, SECURITY_ATTRIBUTES*) { return notImplemented(FALSE); }

BOOL GridFileServices::CreateDirectoryA(const char*, SECURITY_ATTRIBUTES*) { return notImplemented(FALSE); }

DWORD GridFileServices::GetCurrentDirectoryA(DWORD, char*) { return notImplemented<DWORD>(0); }

BOOL GridFileServices::RemoveDirectoryA(const char*, int) { return notImplemented(FALSE); }

BOOL GridFileServices::SetCurrentDirectoryA(const char*) { return notImplemented(FALSE); }

BOOL GridFileServices::GetDiskFreeSpaceA(const char*, DWORD*, DWORD*, DWORD*, DWORD*) { return notImplemented(FALSE); }

BOOL GridFileServices::GetDiskFreeSpaceExA(const char*, ULARGE_INTEGER*, ULARGE_INTEGER*, ULARGE_INTEGER*) {
    return notImplemented(FALSE);
}

BOOL GridFileServices::CopyFileA(const char*, const char*, BOOL) { return notImplemented(FALSE); }

FileServicesHandle GridFileServices::CreateFileA(const char*, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD,
                                                 FileServicesHandle) {
    return notImplemented(FileServicesHandle());
}

BOOL GridFileServices::DeleteFileA(const char* fileName) {
    return toBool(run<GridApi::DeleteFileA>(*this, std::string(fileName)));
}

BOOL GridFileServices::FindClose(FileServicesHandle&) { return notImplemented(FALSE); }

FileServicesHandle GridFileServices::FindFirstFileA(const char*, WIN32_FIND_DATAA*) {
    return notImplemented(FileServicesHandle());
}

BOOL GridFileServices::FindNextFileA(FileServicesHandle&, WIN32_FIND_DATAA*) { return notImplemented(FALSE); }

BOOL GridFileServices::FlushFileBuffers(FileServicesHandle&) { return notImplemented(FALSE); }

DWORD GridFileServices::GetFileAttributesA(const char*) { return notImplemented<DWORD>(INVALID_FILE_ATTRIBUTES); }

BOOL GridFileServices::GetFileAttributesExA(const char*, GET_FILEEX_INFO_LEVELS, void*) {
    return notImplemented(FALSE);
}

DWORD GridFileServices::GetFileSize(FileServicesHandle&, DWORD*) { return notImplemented<DWORD>(INVALID_FILE_SIZE); }

BOOL GridFileServices::GetFileSizeEx(FileServicesHandle&, LARGE_INTEGER*) { return notImplemented(FALSE); }

UINT GridFileServices::GetTempFileNameA(const char*, const char*, UINT, char*) { return notImplemented<UINT>(0); }

BOOL GridFileServices::LockFileEx(FileServicesHandle&, DWORD, DWORD, DWORD, DWORD, OVERLAPPED*) {
    return notImplemented(FALSE);
}

BOOL GridFileServices::MoveFileA(const char*, const char*, DWORD) { return notImplemented(FALSE); }

BOOL GridFileServices::ReadFile(FileServicesHandle&, void*, DWORD, DWORD*, OVERLAPPED*) {
    return notImplemented(FALSE);
}

BOOL GridFileServices::SetEndOfFile(FileServicesHandle&) { return notImplemented(FALSE); }

BOOL GridFileServices::SetFileAttributesA(const char*, DWORD) { return notImplemented(FALSE); }

DWORD GridFileServices::SetFilePointer(FileServicesHandle&, LONG, LONG*, DWORD) {
    return notImplemented<DWORD>(INVALID_SET_FILE_POINTER);
}

BOOL GridFileServices::SetFilePointerEx(FileServicesHandle&, LARGE_INTEGER, LARGE_INTEGER*, DWORD) {
    return notImplemented(FALSE);
}

BOOL GridFileServices::UnlockFileEx(FileServicesHandle&, DWORD, DWORD, DWORD, OVERLAPPED*) {
    return notImplemented(FALSE);
}

BOOL GridFileServices::WriteFile(FileServicesHandle&, const void*, DWORD, DWORD*, OVERLAPPED*) {
    return notImplemented(FALSE);
}

BOOL GridFileServices::CloseHandle(FileServicesHandle&) { return notImplemented(FALSE); }

BOOL GridFileServices::PathFileExistsA(const char*) { return notImplemented(FALSE); }

BOOL GridFileServices::PathIsDirectoryA(const char*) { return notImplemented(FALSE); }

BOOL GridFileServices::PathIsDirectoryEmptyA(const char*) { return notImplemented(FALSE); }

}  // namespace GridApi

extern "C" GRIDAPI_API StravoStorageApi::FileServicesIf* createFileServices() {
    return new GridApi::GridFileServices();
}
