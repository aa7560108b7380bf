#pragma once

// The library's log lines: formatted printf-style first, then logged whole at level 1 under a
// message id of the library's catalogue.

#include <StravoHost/Log.h>

namespace GridApi {
namespace messages {
const int information = 4097;  // "%s-I-0001 %s"
const int warning = 4098;      // "%s-W-0002 %s"
const int error = 4099;        // "%s-E-0003 %s"
const int trace = 16385;       // "%s-T-1111 %s"
}  // namespace messages

inline void logText(int messageId, const char* text) { StravoStorageApi::nonRecursiveLogShow(1, messageId, text); }

template <class... Args>
void logLine(int messageId, const char* format, Args... args) {
    logText(messageId, StravoUtilities::formatMessage(format, args...).c_str());
}

}  // namespace GridApi
