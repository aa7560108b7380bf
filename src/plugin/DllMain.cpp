#include <platform/win32.h>

// The library's entry routine: nothing is read or opened until the first file operation.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
