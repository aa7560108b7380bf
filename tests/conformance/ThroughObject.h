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

using StravoStorageApi::FileServicesIf;

// One object for the whole run, held as the server holds it, with a waiting function that declines
// every retry: a failure is final at once and nothing waits.
inline FileServicesIf& services() {
    static const boost::shared_ptr<FileServicesIf> instance = [] {
        boost::shared_ptr<FileServicesIf> made(createFileServices());
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

// What a test passes for a parameter of the object's operations: a raw HANDLE where the object
// takes its own handle (found for the raw value, or a scratch one wrapping it for the call), and
// every other argument as it is.
template <typename P>
struct Raw {
    using type = P;
    static P pass(P value) { return value; }
};

template <>
struct Raw<FileServicesHandle&> {
    using type = HANDLE;
    static FileServicesHandle& pass(HANDLE raw, FileServicesHandle&& scratch = FileServicesHandle()) {
        return handleOf(raw, scratch);
    }
};

// The object's operation `call` as a function with the Win32 call's parameters.
template <auto call>
struct Via;

template <typename R, typename... P, R (FileServicesIf::*call)(P...)>
struct Via<call> {
    static R run(typename Raw<P>::type... args) { return (services().*call)(Raw<P>::pass(args)...); }
};

// Closes through the object and forgets the handle once it is closed.
template <BOOL (FileServicesIf::*close)(FileServicesHandle&)>
BOOL release(HANDLE raw) {
    const BOOL ok = Via<close>::run(raw);
    if (ok) handles().erase(raw);
    return ok;
}

inline HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE templateFile) {
    FileServicesHandle scratch;
    return keep(
        services().CreateFileA(fileName, access, share, security, disposition, flags, handleOf(templateFile, scratch)));
}

inline HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    return keep(services().FindFirstFileA(pattern, data));
}

// Plain removal: the object's second argument asks for a tree removal when not 0.
inline BOOL RemoveDirectoryA(LPCSTR path) { return services().RemoveDirectoryA(path, 0); }

}  // namespace conformance_object

#define GRIDTEST_VIA(call) ::conformance_object::Via<&StravoStorageApi::FileServicesIf::call>::run
#define CreateFileA ::conformance_object::CreateFileA
#define CloseHandle ::conformance_object::release<&StravoStorageApi::FileServicesIf::CloseHandle>
#define FindFirstFileA ::conformance_object::FindFirstFileA
#define FindNextFileA GRIDTEST_VIA(FindNextFileA)
#define FindClose ::conformance_object::release<&StravoStorageApi::FileServicesIf::FindClose>
#define ReadFile GRIDTEST_VIA(ReadFile)
#define WriteFile GRIDTEST_VIA(WriteFile)
#define FlushFileBuffers GRIDTEST_VIA(FlushFileBuffers)
#define SetEndOfFile GRIDTEST_VIA(SetEndOfFile)
#define SetFilePointer GRIDTEST_VIA(SetFilePointer)
#define SetFilePointerEx GRIDTEST_VIA(SetFilePointerEx)
#define GetFileSize GRIDTEST_VIA(GetFileSize)
#define GetFileSizeEx GRIDTEST_VIA(GetFileSizeEx)
#define LockFileEx GRIDTEST_VIA(LockFileEx)
#define UnlockFileEx GRIDTEST_VIA(UnlockFileEx)
#define CreateDirectoryA GRIDTEST_VIA(CreateDirectoryA)
#define CreateDirectoryW GRIDTEST_VIA(CreateDirectoryW)
#define RemoveDirectoryA ::conformance_object::RemoveDirectoryA
#define DeleteFileA GRIDTEST_VIA(DeleteFileA)
#define CopyFileA GRIDTEST_VIA(CopyFileA)
// The object's move is a verified move that may always copy; within one share it renames.
#define MoveFileExA GRIDTEST_VIA(MoveFileA)
#define GetFileAttributesA GRIDTEST_VIA(GetFileAttributesA)
#define GetFileAttributesExA GRIDTEST_VIA(GetFileAttributesExA)
#define SetFileAttributesA GRIDTEST_VIA(SetFileAttributesA)
#define GetDiskFreeSpaceA GRIDTEST_VIA(GetDiskFreeSpaceA)
#define GetDiskFreeSpaceExA GRIDTEST_VIA(GetDiskFreeSpaceExA)
#define GetTempFileNameA GRIDTEST_VIA(GetTempFileNameA)
#define GetCurrentDirectoryA GRIDTEST_VIA(GetCurrentDirectoryA)
#define SetCurrentDirectoryA GRIDTEST_VIA(SetCurrentDirectoryA)
#define PathFileExistsA GRIDTEST_VIA(PathFileExistsA)
#define PathIsDirectoryA GRIDTEST_VIA(PathIsDirectoryA)
#define PathIsDirectoryEmptyA GRIDTEST_VIA(PathIsDirectoryEmptyA)
