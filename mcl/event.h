// A Win32 event object owned by (or, when borrowed, only used by) its wrapper.
#pragma once

#include "mcl/mswin/unique_resource.h"

namespace mcl {

class event {
public:
    event() = default;
    ~event() { close(); }
    event(const event&) = delete;
    event& operator=(const event&) = delete;

    // Unnamed event without security attributes; manual-reset unless asked otherwise. 0, or -1 when a handle is
    // already held or none can be made.
    int create(bool initially_set = false, bool manual_reset = true);

    // Manual-reset, non-signalled, any account may open it. 0 new; -2 it existed already (the handle is kept:
    // both now share it); -1 a handle is already held or none can be made.
    int create_named(const char* name);

    // Uses a handle that someone else owns; it is not closed here.
    void borrow(HANDLE handle);

    void close();
    bool set();
    bool reset();
    bool is_set() const;
    HANDLE handle() const { return owned_ ? owned_.get() : borrowed_; }

private:
    mswin::unique_handle owned_;  // made here, closed with the wrapper
    HANDLE borrowed_ = nullptr;   // someone else's: used, never closed here
    mswin::unique_hlocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

} // namespace mcl
