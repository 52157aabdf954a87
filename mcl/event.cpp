#include "mcl/event.h"

#include "mcl/mswin/security.h"

namespace mcl {

int event::create(bool initially_set, bool manual_reset)
{
    if (handle_ != nullptr)
        return -1;
    handle_ = ::CreateEventW(nullptr, manual_reset ? TRUE : FALSE, initially_set ? TRUE : FALSE, nullptr);
    borrowed_ = false;
    return handle_ != nullptr ? 0 : -1;
}

int event::create_named(const char* name)
{
    if (handle_ != nullptr)
        return -1;
    if (!mswin::make_open_descriptor(descriptor_, attributes_, FALSE))
        return -1;
    ::SetLastError(ERROR_SUCCESS);
    handle_ = ::CreateEventA(&attributes_, TRUE, FALSE, name);
    const DWORD error = ::GetLastError();
    borrowed_ = false;
    if (handle_ == nullptr)
        return -1;
    return error == ERROR_ALREADY_EXISTS ? -2 : 0;
}

void event::borrow(HANDLE handle)
{
    close();
    handle_ = handle;
    borrowed_ = true;
}

void event::close()
{
    if (handle_ != nullptr && !borrowed_)
        ::CloseHandle(handle_);
    handle_ = nullptr;
    borrowed_ = false;
    descriptor_.reset();
    attributes_ = SECURITY_ATTRIBUTES{};
}

bool event::set() { return handle_ != nullptr && ::SetEvent(handle_) != FALSE; }

bool event::reset() { return handle_ != nullptr && ::ResetEvent(handle_) != FALSE; }

bool event::is_set() const { return handle_ != nullptr && ::WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0; }

} // namespace mcl
