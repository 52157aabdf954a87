// Locks behind one interface, so code can hold either an in-process section or a named mutex.
#pragma once

#include <windows.h>

namespace mcl {

class lock_interface {
public:
    virtual ~lock_interface() = default;
    virtual int acquire() { return 0; }
    virtual int release() { return 0; }
};

// A recursive in-process lock (a critical section).
class lock : public lock_interface {
public:
    lock() { ::InitializeCriticalSection(&section_); }
    ~lock() override { ::DeleteCriticalSection(&section_); }
    lock(const lock&) = delete;
    lock& operator=(const lock&) = delete;

    int acquire() override
    {
        ::EnterCriticalSection(&section_);
        return 0;
    }

    int release() override
    {
        ::LeaveCriticalSection(&section_);
        return 0;
    }

private:
    CRITICAL_SECTION section_;
};

// Holds a lock for the rest of the scope.
class scoped_lock {
public:
    explicit scoped_lock(lock_interface& target) : target_(target) { target_.acquire(); }
    ~scoped_lock() { target_.release(); }
    scoped_lock(const scoped_lock&) = delete;
    scoped_lock& operator=(const scoped_lock&) = delete;

private:
    lock_interface& target_;
};

} // namespace mcl
