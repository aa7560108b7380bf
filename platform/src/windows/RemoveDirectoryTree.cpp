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

}  // namespace

extern "C" BOOL WINAPI RemoveDirectoryTreeA(LPCSTR pathName) {
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
