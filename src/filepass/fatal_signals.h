// POSIX only: what must be undone before a signal ends the process. The
// handler removes the pending temporary and restores the terminal, then
// lets the signal end the process as it would have, so its status stays the
// signal's.
#pragma once

#include <signal.h>

// Installs the handler for every signal whose default action ends the
// process and which a save may meet (SIGHUP, SIGINT, SIGQUIT, SIGPIPE,
// SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU), except
// those the caller ignores (nohup, a background job). SIGXFSZ is ignored,
// so that a write past the file-size limit is a write error.
void install_fatal_signal_handlers();

// Holds those signals back while in scope, so that the handler never sees
// a registration half made.
class FatalSignalsHeld {
public:
    FatalSignalsHeld();
    FatalSignalsHeld(const FatalSignalsHeld&) = delete;
    FatalSignalsHeld& operator=(const FatalSignalsHeld&) = delete;
    ~FatalSignalsHeld();

private:
    sigset_t saved_;  // the previous signal mask
};

// The temporary to remove: `name` in the open directory `directory`, which
// must stay open until the registration is cleared. False, registering
// nothing, when the name does not fit the handler's fixed buffer. Call with
// the signals held.
bool set_pending_temporary(int directory, const char* name);
void clear_pending_temporary();

// The terminal settings to restore on standard input (a struct termios),
// copied; call with the signals held.
void set_terminal_to_restore(const void* settings, unsigned size);
void clear_terminal_to_restore();
