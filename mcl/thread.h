// A thread object with a cooperative stop: run() watches stop_event; a thread that does not end within the
// allowed time is terminated.
#pragma once

#include "mcl/event.h"
#include "mcl/lock.h"
#include "mcl/mswin/unique_resource.h"

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

    // Creates the OS thread unless one runs. True when a thread runs afterwards. A thread that ended, or was
    // asked to end, is waited for (as stop does) and replaced; asked from the thread's own body after it asked
    // for its own stop, that request is withdrawn and the body goes on.
    virtual bool start();

    // Sets stop_event, waits up to `seconds` for the thread to end, then terminates it
    // (at once for 0 seconds) and closes its handle. Called from the thread's own body it only sets stop_event.
    virtual void stop(unsigned seconds);

    // The thread body; its result becomes the thread's exit code.
    virtual DWORD run() { return 0; }

    bool running() const;

    // True once a stop was asked for; cheap enough for a body to look at between small steps.
    bool stop_requested() const { return stop_origin_.load() != no_stop; }

protected:
    mutable lock state_lock;
    mswin::unique_handle thread_handle;
    event stop_event;  // manual-reset: signalled while stopped

private:
    enum : int { no_stop = 0, own_stop = 1, outside_stop = 2 };

    static DWORD WINAPI entry(void* self);
    bool on_own_thread() const;
    // Under state_lock: waits for the thread's end as stop does, then forgets it.
    void finish(unsigned seconds);
    void request_stop(int origin);

    // Read without state_lock: a body asking for its own stop must not wait behind a stop from outside.
    std::atomic<DWORD> thread_id_{0};
    // Who asked for the stop; guarded by request_lock_ together with stop_event, so that a body withdrawing
    // its own request can never swallow one from outside.
    std::atomic<int> stop_origin_{outside_stop};
    lock request_lock_;
};

} // namespace mcl
