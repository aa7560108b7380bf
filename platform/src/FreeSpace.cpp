// GetDiskFreeSpaceA(Ex): what statvfs() tells of the file system that holds a folder.
#include "Internal.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace gridplatform {
namespace {

DWORD statDirectory(const char* path, struct statvfs* vfs) {
    const std::string cwd = currentDirectory();
    DWORD error = 0;
    const Fd fd(openDirectory(mapPath(path ? path : cwd.c_str()), &error));
    if (!fd) return error;
    if (::fstatvfs(fd.get(), vfs) != 0) return pathError(errno);
    return 0;
}

DWORD clampDword(std::uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(v); }

}  // namespace
}  // namespace gridplatform

using namespace gridplatform;

GRIDPLATFORM_API BOOL GetDiskFreeSpaceA(LPCSTR rootPathName, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                                        LPDWORD numberOfFreeClusters, LPDWORD totalNumberOfClusters) {
    struct statvfs vfs;
    if (const DWORD err = statDirectory(rootPathName, &vfs)) return fail(FALSE, err);
    const std::uint64_t cluster = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    const std::uint64_t sector = cluster % 512 == 0 ? 512 : cluster;
    if (sectorsPerCluster) *sectorsPerCluster = static_cast<DWORD>(cluster / sector);
    if (bytesPerSector) *bytesPerSector = static_cast<DWORD>(sector);
    if (numberOfFreeClusters) *numberOfFreeClusters = clampDword(vfs.f_bavail);
    if (totalNumberOfClusters) *totalNumberOfClusters = clampDword(vfs.f_blocks);
    return TRUE;
}

GRIDPLATFORM_API BOOL GetDiskFreeSpaceExA(LPCSTR directoryName, PULARGE_INTEGER freeBytesAvailableToCaller,
                                          PULARGE_INTEGER totalNumberOfBytes, PULARGE_INTEGER totalNumberOfFreeBytes) {
    struct statvfs vfs;
    if (const DWORD err = statDirectory(directoryName, &vfs)) return fail(FALSE, err);
    const std::uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    if (freeBytesAvailableToCaller) freeBytesAvailableToCaller->QuadPart = unit * vfs.f_bavail;
    if (totalNumberOfBytes) totalNumberOfBytes->QuadPart = unit * vfs.f_blocks;
    if (totalNumberOfFreeBytes) totalNumberOfFreeBytes->QuadPart = unit * vfs.f_bfree;
    return TRUE;
}
