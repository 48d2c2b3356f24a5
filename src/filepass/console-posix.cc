#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "filepass/console.h"
#include "filepass/fatal_signals.h"

void wait_for_key() {
    std::fflush(stdout);
    termios saved {};
    if (::isatty(0) != 1 || ::tcgetattr(0, &saved) != 0) {
        std::getchar();
        return;
    }
    // Non-canonical, without echo, for this one read; a signal that ends
    // the process meanwhile restores the terminal first.
    termios key = saved;
    key.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    key.c_cc[VMIN] = 1;
    key.c_cc[VTIME] = 0;
    {
        FatalSignalsHeld held;
        set_terminal_to_restore(&saved, sizeof saved);
    }
    if (::tcsetattr(0, TCSANOW, &key) == 0) {
        char bytes[64];  // the key and whatever arrived with it
        while (::read(0, bytes, sizeof bytes) < 0 && errno == EINTR) {
        }
        ::tcflush(0, TCIFLUSH);
        ::tcsetattr(0, TCSANOW, &saved);
    } else {
        std::getchar();
    }
    {
        FatalSignalsHeld held;
        clear_terminal_to_restore();
    }
    print_out("\n");  // the key was not echoed: end the pause's line
}

bool is_console(std::FILE*) { return false; }

bool write_console(std::FILE*, std::string_view) { return false; }
