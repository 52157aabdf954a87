#include "mcl/thread.h"

namespace mcl {

namespace {

constexpr DWORD polls_per_second = 100;
constexpr DWORD poll_interval_ms = 10;
constexpr DWORD forced_exit_code = 0xFFFFFFFF;

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

bool thread::start()
{
    scoped_lock guard(state_lock);
    if (thread_handle != nullptr)
        return true;
    stop_event.reset();
    thread_handle = ::CreateThread(nullptr, 0, &thread::entry, this, 0, nullptr);
    if (thread_handle == nullptr)
        stop_event.set();
    return thread_handle != nullptr;
}

void thread::stop(unsigned seconds)
{
    // Asked from its own body: waiting would only run out and terminate the caller, and a stop from outside
    // may hold state_lock for its whole wait. The stop request stands; whoever stops it from outside closes
    // the handle.
    if (::GetCurrentThreadId() == thread_id_.load()) {
        stop_event.set();
        return;
    }
    scoped_lock guard(state_lock);
    if (thread_handle == nullptr || thread_handle == INVALID_HANDLE_VALUE) {
        thread_handle = nullptr;
        return;
    }
    stop_event.set();
    const unsigned long long polls = static_cast<unsigned long long>(seconds) * polls_per_second;
    bool ended = false;
    for (unsigned long long i = 0; i < polls; ++i) {
        if (!still_active(thread_handle)) {
            ended = true;
            break;
        }
        ::SleepEx(poll_interval_ms, TRUE);
    }
    if (!ended && still_active(thread_handle)) {
        ::TerminateThread(thread_handle, forced_exit_code);
        // Termination is asynchronous; the caller may free what the thread was using as soon as we return.
        ::WaitForSingleObject(thread_handle, 1000);
    }
    // The id goes first: once the handle is closed the system may give it to another thread.
    thread_id_.store(0);
    ::CloseHandle(thread_handle);
    thread_handle = nullptr;
}

bool thread::running() const
{
    scoped_lock guard(state_lock);
    return thread_handle != nullptr;
}

} // namespace mcl
