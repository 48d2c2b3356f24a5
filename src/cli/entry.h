// Where every run begins, whatever the platform calls its entry point
// (entry-posix.cc, entry-win32.cc).
#pragma once

// The whole run: `argv` holds the arguments as the program takes every
// name, in bytes (POSIX) or UTF-8 (Windows, converted from the system's
// wide arguments). Returns the exit status.
int mapclean_main(int argc, char** argv);
