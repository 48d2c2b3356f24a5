// Runs the built program as a user would: real pipes for stdin, stdout and
// stderr, a working directory, and the exit status.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

struct RunOptions {
    std::string input;           // bytes on the program's stdin, then end of input
    std::string cwd;             // working directory; empty: the test's own
    bool mergeStderr = false;    // stderr into the same pipe as stdout
    long fileSizeLimit = -1;     // RLIMIT_FSIZE in bytes for the program; -1: none
    long addressSpaceLimit = -1; // RLIMIT_AS in bytes for the program; -1: none
    int timeoutMs = 60000;       // the program is killed after this long
    std::vector<std::string> wrapper;  // a command put before the program (and runner)
    bool rawOutput = false;      // keep stdout's bytes as they are, CRLF included
    bool asNobody = false;       // when the test runs as root: run a copy of the program
                                 // as "nobody" (65534), so that file permissions apply
};

struct ProgramRun {
    int status = -1;             // exit status, or 128 + signal number
    bool timedOut = false;
    std::string out;
    std::string err;
};

// A running program. The path comes from MAPCLEAN_EXE in the environment or
// the build; MAPCLEAN_RUNNER, when set, is a command put before it (for a
// POSIX program, within a script that stands for the program).
class Child {
public:
    Child(const std::vector<std::string>& args, const RunOptions& options);
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    void send(std::string_view data);
    // Reads stdout until it ends with `tail`; false when the program ended or
    // time ran out first.
    bool wait_for_output_end(std::string_view tail, int timeoutMs);
    // Closes stdin, collects the rest of the output and the exit status.
    ProgramRun finish(int timeoutMs);
    // Sends `signal` to the program.
    void kill(int signal);
    const std::string& output() const { return run_.out; }

private:
    bool pump(int timeoutMs);  // one round of reading; false when both streams ended

    pid_t pid_ = -1;
    bool rawOutput_ = false;
    int in_ = -1, out_ = -1, err_ = -1;
    ProgramRun run_;
};

// False when the tests run as root and no copy of the program could be put
// where "nobody" can run it: runs with asNobody must then be skipped.
bool nobody_can_run_the_program();

// True when the program under test is the Windows build (run under Wine):
// MAPCLEAN_TARGET=windows in the environment. Its console output has CRLF
// line ends, which the runs below turn into LF.
bool target_is_windows();

// True when the program under test runs under an emulator (MAPCLEAN_RUNNER:
// Wine, or qemu for another processor), whose own process is what resource
// limits and preloaded libraries would reach.
bool target_is_emulated();

// `hostPath` (absolute) as the program under test names it: unchanged on
// POSIX; on Windows the same file through Wine's drive Z:, with '\\'.
std::string native_path(const std::string& hostPath);

// The separator the program puts between a directory and a name.
char native_separator();

// True when the shell finds `command` (a client the tests drive).
bool command_installed(const std::string& command);

// Runs the program to its end with `options.input` on stdin.
ProgramRun run_mapclean(const std::vector<std::string>& args, const RunOptions& options = {});

// The output with every "%.3f seconds" figure replaced by "T", for exact comparison.
std::string mask_times(const std::string& text);

// An error line as the program writes it, "PREFIX (REASON)" and a newline,
// with the reason POSIX gives; for the Windows build, whose reasons are the
// system's own words, the reason is "R", as masked_reasons writes it.
std::string error_line(const std::string& prefix, const std::string& posixReason);

// The error output as error_line expects it: unchanged on POSIX; for the
// Windows build, the reason of every line that ends in one made "R".
std::string masked_reasons(const std::string& text);

// A fresh directory under the system's temporary folder, removed with all
// it holds when the object goes.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // The same as the program under test names them.
    std::string native() const { return native_path(path_); }
    std::string native(const std::string& name) const { return native_path(file(name)); }

private:
    std::string path_;
};

void write_file(const std::string& path, std::string_view content);
// Makes `path` a sparse file of `size` bytes of NUL, with `head` at its start.
void write_sparse_file(const std::string& path, std::string_view head, long long size);
std::string read_file(const std::string& path);
