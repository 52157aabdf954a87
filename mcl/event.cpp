#include "mcl/event.h"

#include "mcl/mswin/security.h"

namespace mcl {

int event::create(bool initially_set, bool manual_reset)
{
    if (handle() != nullptr)
        return -1;
    owned_.reset(::CreateEventW(nullptr, manual_reset ? TRUE : FALSE, initially_set ? TRUE : FALSE, nullptr));
    return owned_ ? 0 : -1;
}

int event::create_named(const char* name)
{
    if (handle() != nullptr)
        return -1;
    if (!mswin::make_open_descriptor(descriptor_, attributes_, FALSE))
        return -1;
    ::SetLastError(ERROR_SUCCESS);
    const HANDLE made = ::CreateEventA(&attributes_, TRUE, FALSE, name);
    const DWORD error = ::GetLastError();
    owned_.reset(made);
    if (!owned_)
        return -1;
    return error == ERROR_ALREADY_EXISTS ? -2 : 0;
}

void event::borrow(HANDLE handle)
{
    close();
    borrowed_ = handle;
}

void event::close()
{
    owned_.reset();
    borrowed_ = nullptr;
    descriptor_.reset();
    attributes_ = SECURITY_ATTRIBUTES{};
}

bool event::set() { return handle() != nullptr && ::SetEvent(handle()) != FALSE; }

bool event::reset() { return handle() != nullptr && ::ResetEvent(handle()) != FALSE; }

bool event::is_set() const { return handle() != nullptr && ::WaitForSingleObject(handle(), 0) == WAIT_OBJECT_0; }

} // namespace mcl
