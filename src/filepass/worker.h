// A second thread for the file pass: one job at a time, while the caller
// does other work. One implementation per platform (worker-posix.cc,
// worker-win32.cc).
#pragma once

#include <functional>
#include <memory>

class Worker {
public:
    Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    // Waits for a job still running, then ends the thread.
    ~Worker();

    // Starts `job` on the second thread, which is made at the first job.
    // False, running nothing, when no thread can be made: the caller then
    // runs the job itself. Only one job at a time: wait() comes between.
    bool start(std::function<void()> job);
    // Returns once the job started last has finished (at once when none).
    void wait();
    // True while the job started last has not finished.
    bool busy() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
