#pragma once

// The host's log. Every call writes one whole line
//   <YYYY-MM-DD HH:MM:SS.mmm> <thread id> <catalogue text>
// (local time, numeric thread id) to the log destination: stderr, or the file named by
// STRAVO_LOG_FILE. The catalogue text comes from the plug-in's message catalogue: the entry for
// the message id, e.g. "%s-I-0001 %s", with the first %s replaced by the facility "GRIDAPI" and
// the second by the text. Ids without an entry (or with the plug-in not loaded) give
// "GRIDAPI-?-<id> <text>". Ids from 16384 on are traces; they are written only while tracing is
// on (STRAVO_TRACE, default on).
//
// Logging is safe from any thread and from inside a file operation: it never calls back into the
// plug-in's file services, and a call made again on the same thread while a line is being written
// does not deadlock.

#include <string>

#include <platform/win32.h>

#include <StravoHost/Export.h>

namespace StravoUtilities {
class Error;
}

namespace StravoStorageApi {
// level is the caller's severity (not used to filter: the message id decides).
STRAVOHOST_API void nonRecursiveLogShow(int level, int messageId, const char* text);
}  // namespace StravoStorageApi

// Whether lines with this message id are wanted (false only for traces while tracing is off).
STRAVOHOST_API bool logCheckTraceLevel(int messageId);
// Formats printf-style and logs the result as nonRecursiveLogShow does; flags are not used.
STRAVOHOST_API void log_show(int flags, int messageId, const char* format, ...) STRAVOHOST_PRINTF(3, 4);

namespace StravoUtilities {
STRAVOHOST_API std::string formatMessage(const char* format, ...) STRAVOHOST_PRINTF(1, 2);
// Reports the error to the system's event log: the Windows Event Log (event source = source,
// error type, the error's what() as the text, data attached) or, on Linux, syslog (ident =
// source, LOG_ERR, the what() text; data is not sent).
STRAVOHOST_API void WriteSystemEvent(const Error& error, const std::string& source, void* data, DWORD dataSize);
}  // namespace StravoUtilities
