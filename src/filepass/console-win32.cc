#include <conio.h>
#include <io.h>

#include <cstdio>

#include "filepass/console.h"

void wait_for_key() {
    std::fflush(stdout);
    if (!::_isatty(::_fileno(stdin))) {
        std::getchar();
        return;
    }
    ::_getch();
    while (::_kbhit()) ::_getch();  // the rest of an arrow key, or keys pressed with it
    print_out("\n");               // _getch does not echo: end the pause's line
}
