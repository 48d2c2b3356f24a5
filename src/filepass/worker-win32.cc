#include "filepass/worker.h"

#include <windows.h>

// The C++ runtime of some Windows toolchains has no std::thread: the
// system's own threads, lock and condition variable.
struct Worker::State {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::function<void()> job;  // the job to run, until the thread takes it
    bool busy = false;          // a job was started and has not finished
    bool ending = false;
    HANDLE thread = nullptr;

    static DWORD WINAPI run(void* self) {
        auto& state = *static_cast<State*>(self);
        ::AcquireSRWLockExclusive(&state.lock);
        for (;;) {
            while (!state.ending && !state.job) ::SleepConditionVariableSRW(&state.changed, &state.lock, INFINITE, 0);
            if (!state.job) break;
            const std::function<void()> taken = std::move(state.job);
            state.job = nullptr;
            ::ReleaseSRWLockExclusive(&state.lock);
            taken();
            ::AcquireSRWLockExclusive(&state.lock);
            state.busy = false;
            ::WakeAllConditionVariable(&state.changed);
        }
        ::ReleaseSRWLockExclusive(&state.lock);
        return 0;
    }
};

Worker::Worker() = default;

Worker::~Worker() {
    if (!state_) return;
    wait();
    ::AcquireSRWLockExclusive(&state_->lock);
    state_->ending = true;
    ::ReleaseSRWLockExclusive(&state_->lock);
    ::WakeAllConditionVariable(&state_->changed);
    ::WaitForSingleObject(state_->thread, INFINITE);
    ::CloseHandle(state_->thread);
}

bool Worker::start(std::function<void()> job) {
    if (!state_) {
        auto state = std::make_unique<State>();
        state->thread = ::CreateThread(nullptr, 0, &State::run, state.get(), 0, nullptr);
        if (!state->thread) return false;
        state_ = std::move(state);
    }
    ::AcquireSRWLockExclusive(&state_->lock);
    state_->job = std::move(job);
    state_->busy = true;
    ::ReleaseSRWLockExclusive(&state_->lock);
    ::WakeAllConditionVariable(&state_->changed);
    return true;
}

void Worker::wait() {
    if (!state_) return;
    ::AcquireSRWLockExclusive(&state_->lock);
    while (state_->busy) ::SleepConditionVariableSRW(&state_->changed, &state_->lock, INFINITE, 0);
    ::ReleaseSRWLockExclusive(&state_->lock);
}

bool Worker::busy() const {
    if (!state_) return false;
    ::AcquireSRWLockShared(&state_->lock);
    const bool busy = state_->busy;
    ::ReleaseSRWLockShared(&state_->lock);
    return busy;
}
