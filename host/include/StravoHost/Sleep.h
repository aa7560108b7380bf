#pragma once

#include <StravoHost/Export.h>

// Blocks the calling thread for the given number of seconds (none for zero or less) and returns 0.
// A test can replace it through StravoHostControl.
STRAVOHOST_API int sys_sleep(int seconds);
