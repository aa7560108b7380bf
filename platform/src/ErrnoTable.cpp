// errno -> Win32 last error. docs/errno-table.md explains every row; keep the two in step.
#include "Internal.h"

#include <cerrno>

namespace gridplatform {
namespace {

// clang-format off
constexpr ErrnoRow kTable[] = {
    //  errno          name              path ops                    handle I/O                 byte-range locks
    {0,               "0",              ERROR_SUCCESS,              ERROR_SUCCESS,             ERROR_SUCCESS},
    // Local file-system conditions.
    {EPERM,           "EPERM",          ERROR_ACCESS_DENIED,        ERROR_ACCESS_DENIED,       ERROR_ACCESS_DENIED},
    {EACCES,          "EACCES",         ERROR_ACCESS_DENIED,        ERROR_ACCESS_DENIED,       ERROR_LOCK_VIOLATION},
    {EROFS,           "EROFS",          ERROR_ACCESS_DENIED,        ERROR_ACCESS_DENIED,       ERROR_ACCESS_DENIED},
    {ENOENT,          "ENOENT",         ERROR_FILE_NOT_FOUND,       ERROR_FILE_NOT_FOUND,      ERROR_FILE_NOT_FOUND},
    {ENOTDIR,         "ENOTDIR",        ERROR_PATH_NOT_FOUND,       ERROR_PATH_NOT_FOUND,      ERROR_PATH_NOT_FOUND},
    {EISDIR,          "EISDIR",         ERROR_ACCESS_DENIED,        ERROR_INVALID_FUNCTION,    ERROR_INVALID_FUNCTION},
    {EEXIST,          "EEXIST",         ERROR_ALREADY_EXISTS,       ERROR_ALREADY_EXISTS,      ERROR_ALREADY_EXISTS},
    {ENOTEMPTY,       "ENOTEMPTY",      ERROR_DIR_NOT_EMPTY,        ERROR_DIR_NOT_EMPTY,       ERROR_DIR_NOT_EMPTY},
    {EBUSY,           "EBUSY",          ERROR_SHARING_VIOLATION,    ERROR_SHARING_VIOLATION,   ERROR_LOCK_VIOLATION},
    {ETXTBSY,         "ETXTBSY",        ERROR_SHARING_VIOLATION,    ERROR_SHARING_VIOLATION,   ERROR_SHARING_VIOLATION},
    {ENAMETOOLONG,    "ENAMETOOLONG",   ERROR_FILENAME_EXCED_RANGE, ERROR_FILENAME_EXCED_RANGE, ERROR_FILENAME_EXCED_RANGE},
    {EILSEQ,          "EILSEQ",         ERROR_INVALID_NAME,         ERROR_INVALID_NAME,        ERROR_INVALID_NAME},
    {ELOOP,           "ELOOP",          ERROR_CANT_RESOLVE_FILENAME, ERROR_CANT_RESOLVE_FILENAME, ERROR_CANT_RESOLVE_FILENAME},
    {EXDEV,           "EXDEV",          ERROR_ACCESS_DENIED,        ERROR_NOT_SAME_DEVICE,     ERROR_NOT_SAME_DEVICE},
    {EBADF,           "EBADF",          ERROR_INVALID_HANDLE,       ERROR_INVALID_HANDLE,      ERROR_INVALID_HANDLE},
    {EINVAL,          "EINVAL",         ERROR_INVALID_PARAMETER,    ERROR_INVALID_PARAMETER,   ERROR_INVALID_PARAMETER},
    {EOVERFLOW,       "EOVERFLOW",      ERROR_INVALID_PARAMETER,    ERROR_INVALID_PARAMETER,   ERROR_INVALID_PARAMETER},
    {EFBIG,           "EFBIG",          ERROR_FILE_TOO_LARGE,       ERROR_FILE_TOO_LARGE,      ERROR_FILE_TOO_LARGE},
    {ENOSPC,          "ENOSPC",         ERROR_DISK_FULL,            ERROR_DISK_FULL,           ERROR_DISK_FULL},
    {EDQUOT,          "EDQUOT",         ERROR_DISK_FULL,            ERROR_DISK_FULL,           ERROR_DISK_FULL},
    {EMFILE,          "EMFILE",         ERROR_TOO_MANY_OPEN_FILES,  ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE,          "ENFILE",         ERROR_TOO_MANY_OPEN_FILES,  ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES},
    {ENOMEM,          "ENOMEM",         ERROR_NOT_ENOUGH_MEMORY,    ERROR_NOT_ENOUGH_MEMORY,   ERROR_NOT_ENOUGH_MEMORY},
    {EDEADLK,         "EDEADLK",        ERROR_LOCK_VIOLATION,       ERROR_LOCK_VIOLATION,      ERROR_LOCK_VIOLATION},
    {ENOLCK,          "ENOLCK",         ERROR_LOCK_VIOLATION,       ERROR_LOCK_VIOLATION,      ERROR_LOCK_VIOLATION},
    {ENOTSUP,         "ENOTSUP",        ERROR_NOT_SUPPORTED,        ERROR_NOT_SUPPORTED,       ERROR_NOT_SUPPORTED},
    {ENOSYS,          "ENOSYS",         ERROR_NOT_SUPPORTED,        ERROR_NOT_SUPPORTED,       ERROR_NOT_SUPPORTED},
    // Network file systems (CIFS, NFS, sshfs): the server went away, the connection broke, or a
    // handle outlived its file. Each maps onto a code the library's retry rules act on.
    {EIO,             "EIO",            ERROR_UNEXP_NET_ERR,        ERROR_UNEXP_NET_ERR,       ERROR_UNEXP_NET_ERR},
    {EAGAIN,          "EAGAIN",         ERROR_SHARING_VIOLATION,    ERROR_SEM_TIMEOUT,         ERROR_LOCK_VIOLATION},
    {ETIMEDOUT,       "ETIMEDOUT",      ERROR_SEM_TIMEOUT,          ERROR_SEM_TIMEOUT,         ERROR_SEM_TIMEOUT},
    {EINTR,           "EINTR",          ERROR_SEM_TIMEOUT,          ERROR_SEM_TIMEOUT,         ERROR_SEM_TIMEOUT},
    {ENOTCONN,        "ENOTCONN",       ERROR_REM_NOT_LIST,         ERROR_REM_NOT_LIST,        ERROR_REM_NOT_LIST},
    {ECONNREFUSED,    "ECONNREFUSED",   ERROR_REM_NOT_LIST,         ERROR_REM_NOT_LIST,        ERROR_REM_NOT_LIST},
    {EHOSTDOWN,       "EHOSTDOWN",      ERROR_REM_NOT_LIST,         ERROR_REM_NOT_LIST,        ERROR_REM_NOT_LIST},
    {EHOSTUNREACH,    "EHOSTUNREACH",   ERROR_BAD_NETPATH,          ERROR_BAD_NETPATH,         ERROR_BAD_NETPATH},
    {ENETUNREACH,     "ENETUNREACH",    ERROR_BAD_NETPATH,          ERROR_BAD_NETPATH,         ERROR_BAD_NETPATH},
    {ENETDOWN,        "ENETDOWN",       ERROR_BAD_NETPATH,          ERROR_BAD_NETPATH,         ERROR_BAD_NETPATH},
    {ECONNRESET,      "ECONNRESET",     ERROR_NETNAME_DELETED,      ERROR_NETNAME_DELETED,     ERROR_NETNAME_DELETED},
    {ECONNABORTED,    "ECONNABORTED",   ERROR_NETNAME_DELETED,      ERROR_NETNAME_DELETED,     ERROR_NETNAME_DELETED},
    {ENETRESET,       "ENETRESET",      ERROR_NETNAME_DELETED,      ERROR_NETNAME_DELETED,     ERROR_NETNAME_DELETED},
    {EPIPE,           "EPIPE",          ERROR_NETNAME_DELETED,      ERROR_NETNAME_DELETED,     ERROR_NETNAME_DELETED},
    {ENOLINK,         "ENOLINK",        ERROR_NETNAME_DELETED,      ERROR_NETNAME_DELETED,     ERROR_NETNAME_DELETED},
    {EREMCHG,         "EREMCHG",        ERROR_NETNAME_DELETED,      ERROR_NETNAME_DELETED,     ERROR_NETNAME_DELETED},
    {ESTALE,          "ESTALE",         ERROR_PATH_NOT_FOUND,       ERROR_INVALID_HANDLE,      ERROR_INVALID_HANDLE},
    {EREMOTEIO,       "EREMOTEIO",      ERROR_UNEXP_NET_ERR,        ERROR_UNEXP_NET_ERR,       ERROR_UNEXP_NET_ERR},
    {EPROTO,          "EPROTO",         ERROR_UNEXP_NET_ERR,        ERROR_UNEXP_NET_ERR,       ERROR_UNEXP_NET_ERR},
    {ECOMM,           "ECOMM",          ERROR_UNEXP_NET_ERR,        ERROR_UNEXP_NET_ERR,       ERROR_UNEXP_NET_ERR},
    {EKEYEXPIRED,     "EKEYEXPIRED",    ERROR_ACCESS_DENIED,        ERROR_ACCESS_DENIED,       ERROR_ACCESS_DENIED},
};
// clang-format on

static_assert(EWOULDBLOCK == EAGAIN, "EWOULDBLOCK is handled as EAGAIN");
static_assert(EOPNOTSUPP == ENOTSUP, "EOPNOTSUPP is handled as ENOTSUP");
static_assert(EDEADLOCK == EDEADLK, "EDEADLOCK is handled as EDEADLK");

}  // namespace

const ErrnoRow* errnoTable(std::size_t* count) {
    *count = sizeof(kTable) / sizeof(kTable[0]);
    return kTable;
}

DWORD win32FromErrno(int err, ErrnoContext context) {
    for (const ErrnoRow& row : kTable) {
        if (row.err == err) {
            switch (context) {
                case ErrnoContext::Path:
                    return row.path;
                case ErrnoContext::Io:
                    return row.io;
                case ErrnoContext::Lock:
                    return row.lock;
            }
        }
    }
    // Anything else is a failure the caller has no specific rule for.
    return ERROR_GEN_FAILURE;
}

}  // namespace gridplatform
