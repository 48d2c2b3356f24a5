#include "program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace {

// A program that ends early must not kill the test with SIGPIPE.
const bool kIgnoreSigpipe = [] {
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}();

// A folder of the test run's own, of mode 0755 under the temporary folder
// (which "nobody" can reach wherever the build lives), removed at exit.
class SharedFolder {
public:
    explicit SharedFolder(const char* name) {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr && ::chmod(pattern.c_str(), 0755) == 0) path_ = pattern;
    }
    SharedFolder(const SharedFolder&) = delete;
    SharedFolder& operator=(const SharedFolder&) = delete;
    ~SharedFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The program as the tests run it. A POSIX program for another processor
// runs through MAPCLEAN_RUNNER (qemu): a script beside a copy of it holds
// both, so that the program is one command that shells, xargs, git and Vim
// run as they run the native one.
std::string program_path() {
    static const SharedFolder emulated("mapclean-emulated");
    static const std::string path = [] {
        const char* exe = std::getenv("MAPCLEAN_EXE");
        const std::string program = exe && *exe ? exe : MAPCLEAN_EXE;
        const char* runner = std::getenv("MAPCLEAN_RUNNER");
        if (target_is_windows() || runner == nullptr || *runner == '\0') return program;
        if (emulated.path().empty()) throw std::runtime_error("no folder for the emulated program");
        const std::string copy = emulated.path() + "/program", script = emulated.path() + "/mapclean";
        std::filesystem::copy_file(program, copy);
        write_file(script, "#!/bin/sh\nexec " + std::string(runner) + " '" + copy + "' \"$@\"\n");
        if (::chmod(copy.c_str(), 0755) != 0 || ::chmod(script.c_str(), 0755) != 0) {
            throw std::runtime_error("cannot make the emulated program runnable");
        }
        return script;
    }();
    return path;
}

// A copy of the program in a folder that "nobody" can reach wherever the
// build lives (a checkout in a private home, say); empty when none could be
// made. Removed at exit.
class NobodysCopy {
public:
    NobodysCopy() {
        if (folder_.path().empty()) return;
        std::error_code error;
        const std::string copy = folder_.path() + "/mapclean";
        std::filesystem::copy_file(program_path(), copy, error);
        if (error || ::chmod(copy.c_str(), 0755) != 0) return;
        // The folders above must let "nobody" through too.
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && ::access(copy.c_str(), X_OK) == 0 ? 0 : 1);
        }
        int status = 1;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            path_ = copy;
        }
    }
    const std::string& path() const { return path_; }

private:
    SharedFolder folder_{"mapclean-exe"};
    std::string path_;
};

const std::string& nobodys_program() {
    static const NobodysCopy copy;
    return copy.path();
}

std::vector<std::string> command_line(const std::vector<std::string>& args,
                                      const std::vector<std::string>& wrapper, bool asNobody) {
    std::vector<std::string> command = wrapper;
    if (const char* runner = std::getenv("MAPCLEAN_RUNNER"); runner && *runner && target_is_windows()) {
        std::istringstream words(runner);
        for (std::string word; words >> word;) command.push_back(word);
    }
    command.push_back(asNobody ? nobodys_program() : program_path());
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

void make_pipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

using Clock = std::chrono::steady_clock;

std::string lf_line_ends(std::string text) {
    std::string::size_type at = 0;
    while ((at = text.find("\r\n", at)) != std::string::npos) text.erase(at, 1);
    return text;
}

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

Child::Child(const std::vector<std::string>& args, const RunOptions& options)
    : rawOutput_(options.rawOutput) {
    (void)kIgnoreSigpipe;
    const bool asNobody = options.asNobody && ::geteuid() == 0;
    if (asNobody && nobodys_program().empty()) throw std::runtime_error("nobody cannot run the program here");
    const std::vector<std::string> command = command_line(args, options.wrapper, asNobody);
    int inPipe[2], outPipe[2], errPipe[2];
    make_pipe(inPipe);
    make_pipe(outPipe);
    make_pipe(errPipe);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::dup2(inPipe[0], 0);
        ::dup2(outPipe[1], 1);
        ::dup2(options.mergeStderr ? outPipe[1] : errPipe[1], 2);
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
        // No core files from the signals that dump one.
        for (const auto& [resource, bytes] :
             {std::pair{RLIMIT_FSIZE, options.fileSizeLimit}, std::pair{RLIMIT_AS, options.addressSpaceLimit},
              std::pair{RLIMIT_CORE, 0L}}) {
            const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
            if (bytes >= 0 && ::setrlimit(resource, &limit) != 0) ::_exit(124);
        }
        if (asNobody &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(125);
        }
        ::signal(SIGPIPE, SIG_DFL);
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    in_ = inPipe[1];
    out_ = outPipe[0];
    err_ = errPipe[0];
    send(options.input);
}

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
        if (fd >= 0) ::close(fd);
    }
}

void Child::kill(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

void Child::send(std::string_view data) {
    // The output is read meanwhile: a filter writes as it reads, and would
    // wait for its reader while its writer waits for it.
    if (in_ >= 0) ::fcntl(in_, F_SETFL, ::fcntl(in_, F_GETFL) | O_NONBLOCK);
    while (!data.empty() && in_ >= 0) {
        pollfd fds[3] = {{in_, POLLOUT, 0}, {out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 3, -1) <= 0) continue;
        if (fds[1].revents != 0 || fds[2].revents != 0) pump(0);
        if (fds[0].revents & (POLLERR | POLLHUP)) return;  // the program closed its stdin or ended
        if (!(fds[0].revents & POLLOUT)) continue;
        const ssize_t put = ::write(in_, data.data(), std::min<size_t>(data.size(), 1 << 16));
        if (put < 0 && errno == EAGAIN) continue;
        if (put <= 0) return;
        data.remove_prefix(static_cast<size_t>(put));
    }
}

bool Child::pump(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0) return false;
    if (::poll(fds, 2, timeoutMs) <= 0) return true;
    int* ends[2] = {&out_, &err_};
    std::string* sinks[2] = {&run_.out, &run_.err};
    for (int i = 0; i < 2; ++i) {
        if (*ends[i] < 0 || fds[i].revents == 0) continue;
        char buffer[65536];
        const ssize_t got = ::read(*ends[i], buffer, sizeof buffer);
        if (got > 0) {
            sinks[i]->append(buffer, static_cast<size_t>(got));
        } else {
            ::close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return out_ >= 0 || err_ >= 0;
}

bool Child::wait_for_output_end(std::string_view tail, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!run_.out.ends_with(tail)) {
        if (remaining_ms(deadline) == 0 || !pump(remaining_ms(deadline))) return false;
    }
    return true;
}

ProgramRun Child::finish(int timeoutMs) {
    if (in_ >= 0) {
        ::close(in_);
        in_ = -1;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pump(remaining_ms(deadline))) {
        if (remaining_ms(deadline) == 0) {
            run_.timedOut = true;
            ::kill(pid_, SIGKILL);
            break;
        }
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    run_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (target_is_windows()) {
        if (!rawOutput_) run_.out = lf_line_ends(run_.out);
        run_.err = lf_line_ends(run_.err);
    }
    return run_;
}

bool nobody_can_run_the_program() { return ::geteuid() != 0 || !nobodys_program().empty(); }

bool target_is_windows() {
    const char* target = std::getenv("MAPCLEAN_TARGET");
    return target != nullptr && std::string_view(target) == "windows";
}

bool target_is_emulated() {
    const char* runner = std::getenv("MAPCLEAN_RUNNER");
    return runner != nullptr && *runner != '\0';
}

std::string native_path(const std::string& hostPath) {
    if (!target_is_windows()) return hostPath;
    std::string path = "Z:" + hostPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

char native_separator() { return target_is_windows() ? '\\' : '/'; }

ProgramRun run_mapclean(const std::vector<std::string>& args, const RunOptions& options) {
    Child child(args, options);
    return child.finish(options.timeoutMs);
}

std::string mask_times(const std::string& text) {
    static const std::regex figure("[0-9]+\\.[0-9]{3} seconds");
    return std::regex_replace(text, figure, "T seconds");
}

std::string error_line(const std::string& prefix, const std::string& posixReason) {
    return prefix + " (" + (target_is_windows() ? "R" : posixReason) + ")\n";
}

std::string masked_reasons(const std::string& text) {
    if (!target_is_windows()) return text;
    static const std::regex reason(" \\([^\n]*\\)\n");
    return std::regex_replace(text, reason, " (R)\n");
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mapclean-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, std::string_view content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return std::string();
    std::string content(static_cast<size_t>(file.tellg()), '\0');
    file.seekg(0);
    file.read(content.data(), static_cast<std::streamsize>(content.size()));
    return content;
}

void write_sparse_file(const std::string& path, std::string_view head, long long size) {
    write_file(path, head);
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

bool command_installed(const std::string& command) {
    return std::system(("command -v " + command + " >/dev/null 2>&1").c_str()) == 0;
}
