#include "mcl/mswin/service.h"

#include "mcl/log.h"
#include "mcl/mswin/utf.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

namespace mcl::mswin::service {

namespace {

constexpr DWORD start_manager_rights = 0x8000001D;  // GENERIC_READ, connect, enumerate, lock, query lock status
constexpr DWORD start_service_rights = 0x80000014;  // GENERIC_READ, SERVICE_QUERY_STATUS, SERVICE_START
constexpr DWORD first_poll_delay_ms = 1000;
constexpr DWORD poll_interval_ms = 1000;
constexpr DWORD initial_sid_bytes = 32;
constexpr DWORD initial_domain_chars = 32;

int code_of(DWORD error) { return static_cast<int>(error); }

const char* safe(const char* text) { return text != nullptr ? text : ""; }

// The narrow and the wide configuration differ only in their record, their characters and their query.
struct narrow_config {
    using record = QUERY_SERVICE_CONFIGA;
    using unit = char;
    static BOOL query(SC_HANDLE service, record* out, DWORD bytes, DWORD* needed)
    {
        return ::QueryServiceConfigA(service, out, bytes, needed);
    }
    static std::size_t length(const unit* text) { return std::strlen(text); }
};

struct wide_config {
    using record = QUERY_SERVICE_CONFIGW;
    using unit = wchar_t;
    static BOOL query(SC_HANDLE service, record* out, DWORD bytes, DWORD* needed)
    {
        return ::QueryServiceConfigW(service, out, bytes, needed);
    }
    static std::size_t length(const unit* text) { return std::wcslen(text); }
};

// Units of a string with its terminator; a dependency list keeps all its names and its closing empty name.
template <typename Unit, typename Length>
std::size_t units_with_terminator(const Unit* text, bool is_list, Length length)
{
    if (!is_list)
        return length(text) + 1;
    std::size_t units = 0;
    while (text[units] != 0)
        units += length(text + units) + 1;
    return units + 1;
}

template <typename Config>
bool append_string(binary_t& config, const typename Config::unit* text, bool is_list, std::uint32_t& offset)
{
    using unit = typename Config::unit;
    static const unit empty[2] = {0, 0};
    const unit* source = text != nullptr ? text : empty;
    const std::size_t bytes = units_with_terminator(source, is_list, &Config::length) * sizeof(unit);
    offset = config.size();
    config.append(reinterpret_cast<const unsigned char*>(source), static_cast<std::uint32_t>(bytes));
    return config.size() == offset + bytes;
}

// Record, then binary path, dependencies, display name, load order group and start name; then the record's
// pointers are aimed at the copies.
template <typename Config>
bool build_copy(const typename Config::record& raw, binary_t& config)
{
    using record = typename Config::record;
    using unit = typename Config::unit;
    config.assign(reinterpret_cast<const unsigned char*>(&raw), sizeof(record));
    std::uint32_t binary_path = 0, dependencies = 0, display_name = 0, load_order_group = 0, start_name = 0;
    const bool ok = config.size() == sizeof(record) &&
                    append_string<Config>(config, raw.lpBinaryPathName, false, binary_path) &&
                    append_string<Config>(config, raw.lpDependencies, true, dependencies) &&
                    append_string<Config>(config, raw.lpDisplayName, false, display_name) &&
                    append_string<Config>(config, raw.lpLoadOrderGroup, false, load_order_group) &&
                    append_string<Config>(config, raw.lpServiceStartName, false, start_name);
    if (!ok) {
        config.clear();
        return false;
    }
    unsigned char* base = config.data();
    record* copy = reinterpret_cast<record*>(base);
    copy->lpBinaryPathName = reinterpret_cast<unit*>(base + binary_path);
    copy->lpDependencies = reinterpret_cast<unit*>(base + dependencies);
    copy->lpDisplayName = reinterpret_cast<unit*>(base + display_name);
    copy->lpLoadOrderGroup = reinterpret_cast<unit*>(base + load_order_group);
    copy->lpServiceStartName = reinterpret_cast<unit*>(base + start_name);
    return true;
}

template <typename Config>
bool query_config_as(const char* name, bool& exists, binary_t& config)
{
    exists = false;
    unique_schandle manager(::OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager)
        return false;
    unique_schandle service(::OpenServiceA(manager.get(), safe(name), GENERIC_READ));
    if (!service)
        return false;
    exists = true;

    DWORD needed = 0;
    if (Config::query(service.get(), nullptr, 0, &needed) || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    if (needed < sizeof(typename Config::record))
        return false;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[needed]);
    if (!block)
        return false;
    auto* raw = reinterpret_cast<typename Config::record*>(block.get());
    if (!Config::query(service.get(), raw, needed, &needed))
        return false;
    return copy_config(*raw, config);
}

// Reads the state while the service is start-pending, at most start_pending_polls more times. 0 when no state
// could be read.
DWORD settled_state(SC_HANDLE service)
{
    DWORD state = 0;
    ::Sleep(first_poll_delay_ms);
    for (unsigned poll = 0;; ++poll) {
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(service, &status))
            break;
        state = status.dwCurrentState;
        if (state != SERVICE_START_PENDING || poll == start_pending_polls)
            break;
        ::Sleep(poll_interval_ms);
    }
    return state;
}

// Takes a zero-filled local block of `bytes` when it is larger than `size`.
bool grow_block(unique_hlocal& block, DWORD& size, DWORD bytes)
{
    if (bytes <= size)
        return true;
    HLOCAL larger = ::LocalAlloc(LPTR, bytes);
    if (larger == nullptr)
        return false;
    block.reset(larger);
    size = bytes;
    return true;
}

} // namespace

bool is_installed(const char* name)
{
    bool exists = false;
    binary_t config;
    return query_config(name, exists, config);
}

bool is_running(const char* name)
{
    unique_schandle manager(::OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager)
        return false;
    unique_schandle service(::OpenServiceA(manager.get(), safe(name), GENERIC_READ));
    if (!service)
        return false;
    SERVICE_STATUS status{};
    return ::QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING;
}

bool start(const char* name)
{
    unique_schandle manager(::OpenSCManagerA(nullptr, nullptr, start_manager_rights));
    if (!manager)
        return false;
    unique_schandle service(::OpenServiceA(manager.get(), safe(name), start_service_rights));
    if (!service) {
        MCL_LOG("mcl::mswin::service::start", 747, "OpenServiceA failed (%d)", code_of(::GetLastError()));
        return false;
    }
    if (!::StartServiceA(service.get(), 0, nullptr)) {
        MCL_LOG("mcl::mswin::service::start", 742, "StartService <%s> failed (%d)", safe(name),
                code_of(::GetLastError()));
        return false;
    }
    const DWORD state = settled_state(service.get());
    if (state == SERVICE_RUNNING)
        return true;
    MCL_LOG("mcl::mswin::service::start", 738, "Service is in a wrong state (%d)", code_of(state));
    return false;
}

bool copy_config(const QUERY_SERVICE_CONFIGA& raw, binary_t& config) { return build_copy<narrow_config>(raw, config); }

bool copy_config(const QUERY_SERVICE_CONFIGW& raw, binary_t& config) { return build_copy<wide_config>(raw, config); }

bool query_config(const char* name, bool& exists, binary_t& config)
{
    return query_config_as<narrow_config>(name, exists, config);
}

bool query_config_w(const char* name, bool& exists, binary_t& config)
{
    return query_config_as<wide_config>(name, exists, config);
}

bool get_sid(const char* name, unique_hlocal* sid)
{
    if (sid == nullptr) {
        MCL_LOG("mcl::mswin::service::get_sid", 816, "service - [get_sid] invalid parameter");
        return false;
    }
    sid->reset(::LocalAlloc(LPTR, initial_sid_bytes));
    DWORD sid_bytes = *sid ? initial_sid_bytes : 0;
    unique_hlocal domain(::LocalAlloc(LPTR, initial_domain_chars * sizeof(wchar_t)));
    DWORD domain_bytes = domain ? initial_domain_chars * sizeof(wchar_t) : 0;
    const std::wstring account = utf8_to_wide(std::string("NT SERVICE\\") + safe(name));

    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD sid_needed = sid_bytes;
        DWORD domain_needed = domain_bytes / sizeof(wchar_t);
        SID_NAME_USE use = SidTypeUnknown;
        if (::LookupAccountNameW(nullptr, account.c_str(), sid->get(), &sid_needed,
                                 static_cast<wchar_t*>(domain.get()), &domain_needed, &use)) {
            if (::IsValidSid(sid->get()))
                return true;
            MCL_LOG("mcl::mswin::service::get_sid", 868, "service - [get_sid] the SID is invalid");
            return false;
        }
        const DWORD error = ::GetLastError();
        const bool retry = error == ERROR_INSUFFICIENT_BUFFER && attempt == 0 &&
                           grow_block(*sid, sid_bytes, sid_needed) &&
                           grow_block(domain, domain_bytes, domain_needed * sizeof(wchar_t));
        if (!retry) {
            MCL_LOG("mcl::mswin::service::get_sid", 911,
                    "service - [get_sid] LookupAccountNameW failed. GetLastError returned: %d", code_of(error));
            return false;
        }
    }
    return false;
}

} // namespace mcl::mswin::service
