// Process-wide settings: written only while the arguments are read, only
// read afterwards.
#pragma once

#include <cstdint>

extern int g_verbose;          // print a "Changed" line for every edit
extern int g_silent;           // no questions, no pauses; commit every change
extern int32_t g_precision;    // < 0: automatic mode; >= 0: decimals to round to
extern int g_check;            // report what would change; write and ask nothing
extern int g_recursive;        // directory runs descend into subdirectories
