#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "cli/entry.h"
#include "filepass/wide-win32.h"

#ifdef __MINGW32__
// Windows programs expand wildcards in their arguments at start-up; with
// MinGW-w64 this asks the runtime to (MSVC links wsetargv.obj instead).
extern "C" {
int _dowildcard = -1;
}
#endif

// The wide arguments, which carry every name the file system holds (the
// narrow ones carry only the ANSI code page's), as UTF-8.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    std::vector<char*> pointers;
    try {
        for (int i = 0; i < argc; ++i) arguments.push_back(narrow(argv[i]));
        for (std::string& argument : arguments) pointers.push_back(argument.data());
        pointers.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        std::fputs("Memory allocation error\n", stderr);
        return 1;
    }
    return mapclean_main(argc, pointers.data());
}
