#pragma once

// GRIDAPI_API marks what the GridApi library exports: plain functions, classes with their
// members and virtual tables, and class-wide data.
#if defined(_WIN32)
#if defined(GRIDAPI_BUILD)
#define GRIDAPI_API __declspec(dllexport)
#else
#define GRIDAPI_API __declspec(dllimport)
#endif
#else
#define GRIDAPI_API __attribute__((visibility("default")))
#endif
