#include "filepass/worker.h"

#include <csignal>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

struct Worker::State {
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> job;  // the job to run, until the thread takes it
    bool busy = false;          // a job was started and has not finished
    bool ending = false;
    std::thread thread;

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return ending || job; });
            if (!job) return;
            const std::function<void()> taken = std::move(job);
            job = nullptr;
            lock.unlock();
            taken();
            lock.lock();
            busy = false;
            changed.notify_all();
        }
    }
};

Worker::Worker() = default;

Worker::~Worker() {
    if (!state_) return;
    wait();
    {
        std::lock_guard lock(state_->mutex);
        state_->ending = true;
    }
    state_->changed.notify_all();
    state_->thread.join();
}

bool Worker::start(std::function<void()> job) {
    if (!state_) {
        try {
            auto state = std::make_unique<State>();
            // Signals go to the main thread, whose handler removes a
            // pending temporary: the new thread inherits a mask that blocks them.
            sigset_t all, saved;
            ::sigfillset(&all);
            ::pthread_sigmask(SIG_BLOCK, &all, &saved);
            try {
                state->thread = std::thread([raw = state.get()] { raw->run(); });
            } catch (...) {
                ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
                throw;
            }
            ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
            state_ = std::move(state);
        } catch (const std::exception&) {
            return false;
        }
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->job = std::move(job);
        state_->busy = true;
    }
    state_->changed.notify_all();
    return true;
}

void Worker::wait() {
    if (!state_) return;
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [this] { return !state_->busy; });
}

bool Worker::busy() const {
    if (!state_) return false;
    std::lock_guard lock(state_->mutex);
    return state_->busy;
}
