// The pause before a console window closes by itself: Explorer starts the
// program for a drop or a double-click in a console of its own, which
// vanishes with the run, and with it every line the run printed.
#pragma once

// The console the program runs in, as the platform reports it.
struct ConsoleSituation {
    unsigned processes = 0;       // processes attached to the console; 0: none, or POSIX
    bool inputIsConsole = false;  // the standard input reads that console
};

// True when the run should end with "Press any key to close this window..."
// and one key: the console was made for this process alone (no shell or
// other program shares it, so it closes when the run ends) and a person can
// answer from it. Never in a console the user opened, never with redirected
// input.
bool pauses_before_closing(const ConsoleSituation& console);
