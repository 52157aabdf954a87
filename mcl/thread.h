// A thread object with a cooperative stop: run() watches stop_event; a thread that does not end within the
// allowed time is terminated.
#pragma once

#include "mcl/event.h"
#include "mcl/lock.h"

#include <atomic>

namespace mcl {

class thread {
public:
    thread();
    // Stops with 10 seconds. A derived class whose run() uses its own members must stop in its own
    // destructor: by the time this one runs, those members are gone.
    virtual ~thread();
    thread(const thread&) = delete;
    thread& operator=(const thread&) = delete;

    // Creates the OS thread unless one exists. True when a thread exists afterwards.
    virtual bool start();

    // Sets stop_event, polls the thread's end up to seconds x 100 times 10 ms apart, then terminates it
    // (at once for 0 seconds) and closes its handle. Called from the thread's own body it only sets stop_event.
    virtual void stop(unsigned seconds);

    // The thread body; its result becomes the thread's exit code.
    virtual DWORD run() { return 0; }

    bool running() const;

protected:
    mutable lock state_lock;
    HANDLE thread_handle = nullptr;
    event stop_event;  // manual-reset: signalled while stopped

private:
    static DWORD WINAPI entry(void* self);

    // Read without state_lock: a body asking for its own stop must not wait behind a stop from outside.
    std::atomic<DWORD> thread_id_{0};
};

} // namespace mcl
