// A named inter-process mutex. Codes: 0 success, -1 failure, -2 exists already / already created,
// -3 no handle. One object is used by one thread at a time (no internal lock).
#pragma once

#include "mcl/lock.h"
#include "mcl/mswin/unique_resource.h"

namespace mcl {

class mutex : public lock_interface {
public:
    mutex() = default;
    // Uses a handle made elsewhere: never closed here and never created again.
    explicit mutex(HANDLE imported_handle);
    ~mutex() override;
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;

    // Waits without time limit.
    int acquire() override { return acquire(INFINITE); }
    int release() override;
    int acquire(DWORD timeout_ms);

    // inherit, when given, also gives the mutex a descriptor any account may use; its byte is the handle's
    // inherit flag.
    int create(const char* name, const unsigned char* inherit = nullptr);
    int open(const char* name);

    HANDLE handle() const { return owned_ ? owned_.get() : imported_handle_; }
    bool acquired() const { return acquired_ != 0; }

private:
    unsigned char imported_ = 0;  // handed in: never created again
    unsigned char acquired_ = 0;
    mswin::unique_handle owned_;       // created or opened here, closed with the object
    HANDLE imported_handle_ = nullptr;  // someone else's: used, never closed here
    mswin::unique_hlocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

} // namespace mcl
