// The shlwapi path tests, answered with the calls of this library.
#include "Internal.h"

#include <cstring>
#include <string>

using namespace gridplatform;

GRIDPLATFORM_API BOOL PathFileExistsA(LPCSTR path) {
    if (!path) return FALSE;
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

GRIDPLATFORM_API BOOL PathIsDirectoryA(LPCSTR path) {
    if (!path) return FALSE;
    const DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) return FALSE;
    return attrs & FILE_ATTRIBUTE_DIRECTORY;
}

GRIDPLATFORM_API BOOL PathIsDirectoryEmptyA(LPCSTR path) {
    if (!path || std::strlen(path) >= MAX_PATH - 2 || !PathIsDirectoryA(path)) return FALSE;
    std::string pattern = path;
    if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    BOOL empty = TRUE;
    do {
        if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) {
            empty = FALSE;
            break;
        }
    } while (FindNextFileA(h, &data));
    FindClose(h);
    return empty;
}
