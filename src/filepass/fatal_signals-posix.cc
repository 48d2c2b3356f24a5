#include "filepass/fatal_signals.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace {

constexpr int kFatalSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGPIPE,  SIGALRM, SIGTERM,
                                 SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU};

// What the handler undoes. A handler may not allocate: fixed buffers, filled
// while the signals are held.
char g_temporaryName[4096];
volatile sig_atomic_t g_temporaryDirectory = -1;  // -1: no temporary pending
termios g_terminal;
volatile sig_atomic_t g_terminalSaved = 0;

// Undoes what is registered, then lets the signal end the process as it
// would have (the handler was reset to the default on entry).
extern "C" void clean_up_and_end(int signal) {
    if (g_temporaryDirectory >= 0) ::unlinkat(g_temporaryDirectory, g_temporaryName, 0);
    if (g_terminalSaved) ::tcsetattr(0, TCSANOW, &g_terminal);
    ::raise(signal);
}

}  // namespace

void install_fatal_signal_handlers() {
    std::signal(SIGXFSZ, SIG_IGN);
    for (int signal : kFatalSignals) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction cleanup {};
        cleanup.sa_handler = clean_up_and_end;
        cleanup.sa_flags = SA_RESETHAND;
        ::sigemptyset(&cleanup.sa_mask);
        for (int other : kFatalSignals) ::sigaddset(&cleanup.sa_mask, other);
        ::sigaction(signal, &cleanup, nullptr);
    }
}

FatalSignalsHeld::FatalSignalsHeld() {
    sigset_t held;
    ::sigemptyset(&held);
    for (int signal : kFatalSignals) ::sigaddset(&held, signal);
    ::sigprocmask(SIG_BLOCK, &held, &saved_);
}

FatalSignalsHeld::~FatalSignalsHeld() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }

bool set_pending_temporary(int directory, const char* name) {
    const size_t length = std::strlen(name);
    if (length >= sizeof g_temporaryName) return false;
    std::memcpy(g_temporaryName, name, length + 1);
    g_temporaryDirectory = directory;
    return true;
}

void clear_pending_temporary() { g_temporaryDirectory = -1; }

void set_terminal_to_restore(const void* settings, unsigned size) {
    if (size != sizeof g_terminal) return;
    std::memcpy(&g_terminal, settings, size);
    g_terminalSaved = 1;
}

void clear_terminal_to_restore() { g_terminalSaved = 0; }
