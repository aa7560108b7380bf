// GetTempFileNameA: a name, and a file, that no other holds in a folder.
#include "Internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>

using namespace gridplatform;

GRIDPLATFORM_API UINT GetTempFileNameA(LPCSTR pathName, LPCSTR prefixString, UINT unique, LPSTR tempFileName) {
    if (!pathName || !tempFileName) return fail(0u, ERROR_INVALID_PARAMETER);
    std::string base = pathName;
    if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
    if (prefixString) base.append(prefixString, strnlen(prefixString, 3));
    if (base.size() + 8 >= MAX_PATH) return fail(0u, ERROR_BUFFER_OVERFLOW);
    auto nameFor = [&](unsigned n) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", n);
        return base + hex + ".tmp";
    };
    unique &= 0xFFFF;
    // The folder must be a directory that exists, also when only the name is formed: else 267.
    DWORD error = 0;
    const Fd folder(openDirectory(mapPath(pathName), &error));
    if (!folder) {
        const bool missing =
            error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
        return fail(0u, missing ? DWORD(ERROR_DIRECTORY) : error);
    }
    if (unique) {
        std::strcpy(tempFileName, nameFor(unique).c_str());
        return unique;
    }
    const std::string prefix = prefixString ? std::string(prefixString, strnlen(prefixString, 3)) : std::string();
    if (prefix.find_first_of("\\/<>:\"|*?") != std::string::npos ||
        std::any_of(prefix.begin(), prefix.end(), [](char c) { return static_cast<unsigned char>(c) < 32; })) {
        return fail(0u, ERROR_INVALID_NAME);  // no name made of it could be created in the folder
    }
    // The folder is read once: the numbers whose names it holds already, in any case, are passed
    // over without a try, so a folder full of them costs one read, not one scan per number.
    std::unordered_set<std::string> taken;
    readDirectory(folder.get(), [&](const char* name) {
        std::string folded(name);
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        taken.insert(std::move(folded));
        return true;
    });
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch();
    unsigned n = static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(ticks).count()) & 0xFFFF;
    for (unsigned tries = 0; tries < 0xFFFF; ++tries, n = (n + 1) & 0xFFFF) {
        if (n == 0) continue;
        char name[16];
        std::snprintf(name, sizeof name, "%s%X.tmp", prefix.c_str(), n);
        std::string folded(name);
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (taken.count(folded)) continue;
        // Made in the folder's own descriptor: never through a link, never elsewhere.
        const int fd = ::openat(folder.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;  // made meanwhile
            return fail(0u, pathError(errno));
        }
        ::close(fd);
        std::strcpy(tempFileName, nameFor(n).c_str());
        return n;
    }
    return fail(0u, ERROR_FILE_EXISTS);
}
