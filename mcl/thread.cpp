#include "mcl/thread.h"

#include "mcl/log.h"

namespace mcl {

namespace {

constexpr unsigned long long ms_per_second = 1000;
constexpr DWORD forced_exit_code = 0xFFFFFFFF;
constexpr unsigned restart_wait_seconds = 10;

bool still_active(HANDLE handle)
{
    DWORD code = 0;
    return ::GetExitCodeThread(handle, &code) && code == STILL_ACTIVE;
}

} // namespace

thread::thread() { stop_event.create(true); }

thread::~thread() { stop(10); }

DWORD WINAPI thread::entry(void* self)
{
    thread* owner = static_cast<thread*>(self);
    owner->thread_id_.store(::GetCurrentThreadId());
    return owner->run();
}

bool thread::on_own_thread() const { return ::GetCurrentThreadId() == thread_id_.load(); }

void thread::request_stop(int origin)
{
    scoped_lock guard(request_lock_);
    if (origin == outside_stop || stop_origin_.load() == no_stop)
        stop_origin_.store(origin);
    stop_event.set();
}

bool thread::start()
{
    if (on_own_thread()) {
        // The body is running this very call. Only a stop it asked for itself may be taken back; waiting for
        // its own end here would never finish.
        scoped_lock guard(request_lock_);
        if (stop_origin_.load() == own_stop) {
            stop_origin_.store(no_stop);
            stop_event.reset();
        }
        return stop_origin_.load() == no_stop;
    }
    scoped_lock guard(state_lock);
    if (thread_handle) {
        if (!stop_requested() && still_active(thread_handle.get()))
            return true;
        // It ended by itself or is on its way out: a later start would otherwise find the old handle and do
        // nothing, leaving the object without a thread for good.
        finish(restart_wait_seconds);
    }
    {
        scoped_lock request_guard(request_lock_);
        stop_origin_.store(no_stop);
        stop_event.reset();
    }
    thread_handle.reset(::CreateThread(nullptr, 0, &thread::entry, this, 0, nullptr));
    if (!thread_handle)
        request_stop(outside_stop);
    return static_cast<bool>(thread_handle);
}

void thread::stop(unsigned seconds)
{
    // Asked from its own body: waiting would only run out and terminate the caller, and a stop from outside
    // may hold state_lock for its whole wait. The stop request stands; whoever stops it from outside closes
    // the handle.
    if (on_own_thread()) {
        request_stop(own_stop);
        return;
    }
    scoped_lock guard(state_lock);
    request_stop(outside_stop);
    if (thread_handle)
        finish(seconds);
}

void thread::finish(unsigned seconds)
{
    // Waiting on the handle rather than sleeping between exit-code polls: a thread that ends at once costs
    // no poll interval, which a helper released four times per run would pay on each of its three threads.
    const unsigned long long limit_ms = static_cast<unsigned long long>(seconds) * ms_per_second;
    const ULONGLONG started = ::GetTickCount64();
    bool ended = false;
    for (;;) {
        if (!still_active(thread_handle.get())) {
            ended = true;
            break;
        }
        const unsigned long long elapsed = ::GetTickCount64() - started;
        if (elapsed >= limit_ms)
            break;
        const unsigned long long left = limit_ms - elapsed;
        const DWORD wait_ms = left < INFINITE ? static_cast<DWORD>(left) : INFINITE - 1;
        if (::WaitForSingleObjectEx(thread_handle.get(), wait_ms, TRUE) == WAIT_FAILED) {
            ended = true;
            break;
        }
    }
    if (!ended && still_active(thread_handle.get())) {
        MCL_LOG("mcl::thread::stop", 71, "The thread did not end within %u seconds, terminating it", seconds);
        ::TerminateThread(thread_handle.get(), forced_exit_code);
        // Termination is asynchronous; the caller may free what the thread was using as soon as we return.
        ::WaitForSingleObject(thread_handle.get(), 1000);
    }
    // The id goes first: once the handle is closed the system may give it to another thread.
    thread_id_.store(0);
    thread_handle.reset();
}

bool thread::running() const
{
    scoped_lock guard(state_lock);
    return static_cast<bool>(thread_handle);
}

} // namespace mcl
