// The recursive removal on Windows: Boost.Filesystem's remove_all, given the path widened with the
// code page the narrow file calls use, so that it names the same file as RemoveDirectoryA would.

#include <platform/win32.h>

#include <string>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

namespace {

std::wstring widen(const char* narrow) {
    const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    const int length = MultiByteToWideChar(codePage, 0, narrow, -1, nullptr, 0);
    if (length <= 1) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, narrow, -1, &wide[0], length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

// Whether `wide` names a share itself (\\server\share), however it is spelled: the system's own
// full form of the name ("." and ".." resolved, trailing dots and spaces dropped, separators made
// one) has nothing below the share.
bool isShareRoot(std::wstring wide) {
    for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
    if (wide.compare(0, 8, L"\\\\?\\UNC\\") == 0) wide = L"\\\\" + wide.substr(8);  // the long form
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return false;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return false;
    full.resize(length);
    if (full.compare(0, 2, L"\\\\") != 0) return false;
    const std::size_t server = full.find(L'\\', 2);
    if (server == std::wstring::npos) return false;
    const std::size_t share = full.find(L'\\', server + 1);
    return share == std::wstring::npos || share + 1 == full.size();
}

}  // namespace

extern "C" BOOL WINAPI RemoveDirectoryTreeA(LPCSTR pathName) {
    // A share is never removed, nor emptied: refused before anything is touched.
    if (isShareRoot(widen(pathName ? pathName : ""))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    boost::system::error_code error(0, boost::system::system_category());
    try {
        boost::filesystem::remove_all(boost::filesystem::path(widen(pathName ? pathName : "")), error);
    } catch (const std::bad_alloc&) {
        error.assign(ERROR_NOT_ENOUGH_MEMORY, boost::system::system_category());
    }
    if (error.value() == 0) return TRUE;
    SetLastError(static_cast<DWORD>(error.value()));
    return FALSE;
}
