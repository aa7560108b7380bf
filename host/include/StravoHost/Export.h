#pragma once

// STRAVOHOST_API marks what libStravoHost / StravoHost.dll exports. The library itself is built
// with STRAVOHOST_BUILD defined and hidden visibility, so only marked names leave it.
#if defined(_WIN32)
#if defined(STRAVOHOST_BUILD)
#define STRAVOHOST_API __declspec(dllexport)
#else
#define STRAVOHOST_API __declspec(dllimport)
#endif
#else
#define STRAVOHOST_API __attribute__((visibility("default")))
#endif

// printf-style argument checking for the host's variadic functions.
#if defined(__GNUC__)
#define STRAVOHOST_PRINTF(formatIndex, firstArg) __attribute__((format(gnu_printf, formatIndex, firstArg)))
#else
#define STRAVOHOST_PRINTF(formatIndex, firstArg)
#endif
