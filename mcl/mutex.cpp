#include "mcl/mutex.h"

#include "mcl/log.h"
#include "mcl/mswin/error_text.h"
#include "mcl/mswin/security.h"

#include <utility>

namespace mcl {

namespace {

constexpr DWORD open_rights = SYNCHRONIZE | MUTEX_MODIFY_STATE;

int code_of(DWORD error) { return static_cast<int>(error); }

} // namespace

mutex::mutex(HANDLE imported_handle) : imported_(1), imported_handle_(imported_handle) {}

// The handle itself goes with its owner (an imported one stays open).
mutex::~mutex()
{
    if (acquired_ && handle() != nullptr)
        ::ReleaseMutex(handle());
}

int mutex::create(const char* name, const unsigned char* inherit)
{
    if (imported_) {
        MCL_LOG("mcl::mutex::create", 37, "Re-create mutex is not supported, this is imported mutex");
        return -1;
    }
    if (handle() != nullptr) {
        MCL_LOG("mcl::mutex::create", 41, "Re-create mutex is not supported, the mutex has already been created");
        return -2;
    }
    SECURITY_ATTRIBUTES* attributes = nullptr;
    if (inherit != nullptr) {
        if (!mswin::make_open_descriptor(descriptor_, attributes_, *inherit ? TRUE : FALSE)) {
            MCL_LOG("mcl::mutex::create", 48, "Failed to create security descriptor");
            return -1;
        }
        attributes = &attributes_;
    }
    ::SetLastError(ERROR_SUCCESS);
    mswin::unique_handle made(::CreateMutexA(attributes, FALSE, name));
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED)
        return -2;
    if (made) {
        owned_ = std::move(made);
        return 0;
    }
    MCL_LOG("mcl::mutex::create", 72, "Failed to create mutex, error [%d:%s]", code_of(error), mswin::error_text(error));
    return -1;
}

int mutex::open(const char* name)
{
    if (handle() != nullptr)
        return -2;
    const HANDLE opened = ::OpenMutexA(open_rights, FALSE, name);
    const DWORD error = ::GetLastError();
    owned_.reset(opened);
    if (owned_)
        return 0;
    MCL_LOG("mcl::mutex::open", 92, "Failed to open mutex \"%s\", error [%d:%s]", name != nullptr ? name : "",
            code_of(error), mswin::error_text(error));
    return -1;
}

int mutex::acquire(DWORD timeout_ms)
{
    if (handle() == nullptr)
        return -3;
    if (acquired_)
        return 0;
    const DWORD result = ::WaitForSingleObject(handle(), timeout_ms);
    if (result == WAIT_OBJECT_0) {
        acquired_ = 1;
        return 0;
    }
    if (result == WAIT_TIMEOUT) {
        MCL_LOG("mcl::mutex::acquire", 115, "Time-out when accquiring the mutex");
        return -1;
    }
    if (result == WAIT_FAILED) {
        const DWORD error = ::GetLastError();
        MCL_LOG("mcl::mutex::acquire", 113, "Failed to accquire the mutex, error [%d:%s]", code_of(error),
                mswin::error_text(error));
        return -1;
    }
    // Abandoned: we own it now, but what it guarded may be half-done. Hand it back and report failure.
    ::ReleaseMutex(handle());
    return -1;
}

int mutex::release()
{
    if (handle() == nullptr)
        return -3;
    if (!acquired_)
        return 0;
    if (!::ReleaseMutex(handle())) {
        const DWORD error = ::GetLastError();
        MCL_LOG("mcl::mutex::release", 137, "Failed to release the mutex, error [%d:%s]", code_of(error),
                mswin::error_text(error));
        return -1;
    }
    acquired_ = 0;
    return 0;
}

} // namespace mcl
