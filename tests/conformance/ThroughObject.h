// Force-included (-include) into every source of grid-conformance-object-tests: the scenario suite
// a second time, with every Win32 file call that the file-services object offers made through the
// object instead. Everything the suite and its helpers include comes first; then each covered
// Win32 name becomes a macro naming a function below, so no gtest, std or Boost header sees them.
#pragma once

#include <platform/win32.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>

#include <GridApi/GridFileServices.h>
#include <StravoHost/FileServicesHandle.h>
#include <StravoHost/FileServicesIf.h>

#ifndef _WIN32
#include <unistd.h>
#endif

// Conformance.h reads this to expect the object's answer where it differs on purpose.
#define GRIDTEST_THROUGH_OBJECT 1

namespace conformance_object {

// One object for the whole run, held as the server holds it, with a waiting function that declines
// every retry: a failure is final at once and nothing waits.
inline StravoStorageApi::FileServicesIf& services() {
    static const boost::shared_ptr<StravoStorageApi::FileServicesIf> instance = [] {
        boost::shared_ptr<StravoStorageApi::FileServicesIf> made(createFileServices());
        made->setRetryWaiter([](const StravoStorageApi::RetryStep&) { return false; });
        return made;
    }();
    return *instance;
}

// The handles the object handed out, by raw value, until they are closed.
inline std::map<HANDLE, FileServicesHandle>& handles() {
    static std::map<HANDLE, FileServicesHandle> registry;
    return registry;
}

// The object's handle for a raw value; a value the object did not hand out (closed, invalid, made
// up) is wrapped as it is.
inline FileServicesHandle& handleOf(HANDLE raw, FileServicesHandle& scratch) {
    const auto found = handles().find(raw);
    if (found != handles().end()) return found->second;
    scratch = raw;
    return scratch;
}

// Keeps an opened handle in the registry and gives the test its raw value.
inline HANDLE keep(const FileServicesHandle& opened) {
    const HANDLE raw = opened;
    if (raw != INVALID_HANDLE_VALUE) handles()[raw] = opened;
    return raw;
}

// Closes through `close` and forgets the handle once it is closed.
template <class Close>
BOOL release(HANDLE raw, Close&& close) {
    FileServicesHandle scratch;
    const BOOL ok = close(handleOf(raw, scratch));
    if (ok) handles().erase(raw);
    return ok;
}

inline HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE templateFile) {
    FileServicesHandle scratch;
    return keep(
        services().CreateFileA(fileName, access, share, security, disposition, flags, handleOf(templateFile, scratch)));
}

inline BOOL CloseHandle(HANDLE h) {
    return release(h, [](FileServicesHandle& f) { return services().CloseHandle(f); });
}

inline HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    return keep(services().FindFirstFileA(pattern, data));
}

inline BOOL FindNextFileA(HANDLE h, LPWIN32_FIND_DATAA data) {
    FileServicesHandle scratch;
    return services().FindNextFileA(handleOf(h, scratch), data);
}

inline BOOL FindClose(HANDLE h) {
    return release(h, [](FileServicesHandle& f) { return services().FindClose(f); });
}

inline BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED ov) {
    FileServicesHandle scratch;
    return services().ReadFile(handleOf(h, scratch), buffer, size, done, ov);
}

inline BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED ov) {
    FileServicesHandle scratch;
    return services().WriteFile(handleOf(h, scratch), buffer, size, done, ov);
}

inline BOOL FlushFileBuffers(HANDLE h) {
    FileServicesHandle scratch;
    return services().FlushFileBuffers(handleOf(h, scratch));
}

inline BOOL SetEndOfFile(HANDLE h) {
    FileServicesHandle scratch;
    return services().SetEndOfFile(handleOf(h, scratch));
}

inline DWORD SetFilePointer(HANDLE h, LONG distance, PLONG high, DWORD method) {
    FileServicesHandle scratch;
    return services().SetFilePointer(handleOf(h, scratch), distance, high, method);
}

inline BOOL SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method) {
    FileServicesHandle scratch;
    return services().SetFilePointerEx(handleOf(h, scratch), distance, position, method);
}

inline DWORD GetFileSize(HANDLE h, LPDWORD high) {
    FileServicesHandle scratch;
    return services().GetFileSize(handleOf(h, scratch), high);
}

inline BOOL GetFileSizeEx(HANDLE h, PLARGE_INTEGER size) {
    FileServicesHandle scratch;
    return services().GetFileSizeEx(handleOf(h, scratch), size);
}

inline BOOL LockFileEx(HANDLE h, DWORD flags, DWORD reserved, DWORD low, DWORD high, LPOVERLAPPED ov) {
    FileServicesHandle scratch;
    return services().LockFileEx(handleOf(h, scratch), flags, reserved, low, high, ov);
}

inline BOOL UnlockFileEx(HANDLE h, DWORD reserved, DWORD low, DWORD high, LPOVERLAPPED ov) {
    FileServicesHandle scratch;
    return services().UnlockFileEx(handleOf(h, scratch), reserved, low, high, ov);
}

inline BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    return services().CreateDirectoryA(path, security);
}

inline BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    return services().CreateDirectoryW(path, security);
}

// Plain removal: the object's second argument asks for a tree removal when not 0.
inline BOOL RemoveDirectoryA(LPCSTR path) { return services().RemoveDirectoryA(path, 0); }

inline BOOL DeleteFileA(LPCSTR path) { return services().DeleteFileA(path); }

inline BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
    return services().CopyFileA(from, to, failIfExists);
}

// The object's move is a verified move that may always copy; within one share it renames.
inline BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) { return services().MoveFileA(from, to, flags); }

inline DWORD GetFileAttributesA(LPCSTR path) { return services().GetFileAttributesA(path); }

inline BOOL GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
    return services().GetFileAttributesExA(path, level, data);
}

inline BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
    return services().SetFileAttributesA(path, attributes);
}

inline BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector, LPDWORD freeClusters,
                              LPDWORD clusters) {
    return services().GetDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, freeClusters, clusters);
}

inline BOOL GetDiskFreeSpaceExA(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free) {
    return services().GetDiskFreeSpaceExA(path, available, total, free);
}

inline UINT GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR name) {
    return services().GetTempFileNameA(path, prefix, unique, name);
}

inline DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) { return services().GetCurrentDirectoryA(size, buffer); }

inline BOOL SetCurrentDirectoryA(LPCSTR path) { return services().SetCurrentDirectoryA(path); }

inline BOOL PathFileExistsA(LPCSTR path) { return services().PathFileExistsA(path); }

inline BOOL PathIsDirectoryA(LPCSTR path) { return services().PathIsDirectoryA(path); }

inline BOOL PathIsDirectoryEmptyA(LPCSTR path) { return services().PathIsDirectoryEmptyA(path); }

}  // namespace conformance_object

#define CreateFileA ::conformance_object::CreateFileA
#define CloseHandle ::conformance_object::CloseHandle
#define FindFirstFileA ::conformance_object::FindFirstFileA
#define FindNextFileA ::conformance_object::FindNextFileA
#define FindClose ::conformance_object::FindClose
#define ReadFile ::conformance_object::ReadFile
#define WriteFile ::conformance_object::WriteFile
#define FlushFileBuffers ::conformance_object::FlushFileBuffers
#define SetEndOfFile ::conformance_object::SetEndOfFile
#define SetFilePointer ::conformance_object::SetFilePointer
#define SetFilePointerEx ::conformance_object::SetFilePointerEx
#define GetFileSize ::conformance_object::GetFileSize
#define GetFileSizeEx ::conformance_object::GetFileSizeEx
#define LockFileEx ::conformance_object::LockFileEx
#define UnlockFileEx ::conformance_object::UnlockFileEx
#define CreateDirectoryA ::conformance_object::CreateDirectoryA
#define CreateDirectoryW ::conformance_object::CreateDirectoryW
#define RemoveDirectoryA ::conformance_object::RemoveDirectoryA
#define DeleteFileA ::conformance_object::DeleteFileA
#define CopyFileA ::conformance_object::CopyFileA
#define MoveFileExA ::conformance_object::MoveFileExA
#define GetFileAttributesA ::conformance_object::GetFileAttributesA
#define GetFileAttributesExA ::conformance_object::GetFileAttributesExA
#define SetFileAttributesA ::conformance_object::SetFileAttributesA
#define GetDiskFreeSpaceA ::conformance_object::GetDiskFreeSpaceA
#define GetDiskFreeSpaceExA ::conformance_object::GetDiskFreeSpaceExA
#define GetTempFileNameA ::conformance_object::GetTempFileNameA
#define GetCurrentDirectoryA ::conformance_object::GetCurrentDirectoryA
#define SetCurrentDirectoryA ::conformance_object::SetCurrentDirectoryA
#define PathFileExistsA ::conformance_object::PathFileExistsA
#define PathIsDirectoryA ::conformance_object::PathIsDirectoryA
#define PathIsDirectoryEmptyA ::conformance_object::PathIsDirectoryEmptyA
