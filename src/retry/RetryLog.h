#pragma once

// The library's log lines: formatted printf-style first, then logged whole at level 1 under a
// message id of the library's catalogue (messages::<name>, generated from resources/messages.txt).

#include <StravoHost/Log.h>

#include "retry/MessageIds.h"

namespace GridApi {

inline void logText(int messageId, const char* text) { StravoStorageApi::nonRecursiveLogShow(1, messageId, text); }

template <class... Args>
void logLine(int messageId, const char* format, Args... args) {
    logText(messageId, StravoUtilities::formatMessage(format, args...).c_str());
}

}  // namespace GridApi
