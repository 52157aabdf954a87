// The helper's core: the service checks, connecting, protocol-version negotiation and its gate, the one
// exchange that every request goes through, the one-way post, the handler of unsolicited messages and the
// orderly end of a helper.
#include "helper/ovchelper.h"

#include "helper/helper_wire.h"
#include "mcl/log.h"
#include "mcl/mswin/service.h"
#include "mcl/mswin/unique_resource.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::uint32_t compatible_request = 0x1000009;
constexpr DWORD start_settle_ms = 100;
constexpr std::uint64_t ms_per_second = 1000;
// Sleep(INFINITE) would never return, so the longest pause stays one below it.
constexpr std::uint64_t longest_pause_ms = INFINITE - 1;
// The version message is cut at this many characters.
constexpr std::size_t version_message_limit = 255;

using mcl::mswin::unique_schandle;

// The service's configuration, read the documented way: first its size, then into a buffer of that size.
bool config_readable(SC_HANDLE service)
{
    DWORD needed = 0;
    if (::QueryServiceConfigA(service, nullptr, 0, &needed) || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    const mcl::mswin::unique_local_block<QUERY_SERVICE_CONFIGA> config(needed);
    return config && ::QueryServiceConfigA(service, config.get(), needed, &needed);
}

bool query_state(SC_HANDLE service, DWORD& state)
{
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(service, &status))
        return false;
    state = status.dwCurrentState;
    return true;
}

bool process_of(SC_HANDLE service, DWORD& process_id)
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                &needed))
        return false;
    process_id = status.dwProcessId;
    return true;
}

bool served_by(HANDLE pipe, DWORD process_id)
{
    ULONG server = 0;
    return ::GetNamedPipeServerProcessId(pipe, &server) && server == process_id;
}

} // namespace

std::int32_t ovchelper::agent_msg_handler::handle_message(const mcl::ipc_connection_ptr& connection,
                                                          std::uint32_t id, mcl::binary_t& payload)
{
    mcl::ipc_msg_handler* delegate = owner != nullptr ? owner->event_delegate() : nullptr;
    return delegate != nullptr ? delegate->handle_message(connection, id, payload) : 0;
}

ovchelper::ovchelper() : mcl::ipc_peer(&handler_) { handler_.owner = this; }

ovchelper::~ovchelper()
{
    post_simple(leaving_message);
    // Here, not in the peer's own destructor: that one stops the event thread only after handler_ is gone,
    // so a message arriving meanwhile would reach a destroyed handler. Disconnecting also writes what is
    // still queued, the leaving message among it, before the pipes close.
    disconnect();
}

SC_HANDLE ovchelper::service_manager()
{
    // Opening the manager is by far the dearest step of a service query (tens of milliseconds under Wine),
    // and the cleaner asks three times per helper; one read-only handle serves them all.
    if (!manager_)
        manager_.reset(::OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    return manager_.get();
}

mcl::mswin::unique_schandle ovchelper::open_service(const std::string& name)
{
    const SC_HANDLE manager = service_manager();
    return unique_schandle(manager != nullptr ? ::OpenServiceA(manager, name.c_str(), GENERIC_READ) : nullptr);
}

bool ovchelper::service_installed(std::string service_name)
{
    const unique_schandle service = open_service(service_name);
    return service && config_readable(service.get());
}

bool ovchelper::service_stopped(std::string service_name)
{
    const unique_schandle service = open_service(service_name);
    DWORD state = 0;
    if (!service || !query_state(service.get(), state))
        return false;
    return state == SERVICE_STOPPED || state == SERVICE_STOP_PENDING;
}

bool ovchelper::connect(std::int32_t timeout_ms, std::string service_name)
{
    // Installed and running are asked of one open service.
    const unique_schandle service = open_service(service_name);
    if (!service || !config_readable(service.get()))
        return false;
    DWORD state = 0;
    const char* name = service_name.c_str();
    if (!query_state(service.get(), state) || state != SERVICE_RUNNING) {
        if (!mcl::mswin::service::start(name))
            return false;
        ::Sleep(start_settle_ms);
    }
    // A negative time-out would otherwise become a wait of about 49 days.
    const std::uint32_t timeout = timeout_ms < 0 ? 0 : static_cast<std::uint32_t>(timeout_ms);
    return mcl::ipc_peer::connect(name, timeout);
}

// Any process may have made pipes under the service's name, before the service or beside it; it would get the
// unprotect requests and could answer them.
bool ovchelper::server_trusted(const char* name, mcl::ipc_connection& connection)
{
    const unique_schandle service = open_service(name);
    DWORD process_id = 0;
    if (!service || !process_of(service.get(), process_id) || process_id == 0)
        return false;
    return served_by(connection.read_channel().handle(), process_id) &&
           served_by(connection.write_channel().handle(), process_id);
}

bool ovchelper::proto_compatible()
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_u32(payload, client_protocol_version);
    if (!sync_query(compatible_request, encoded, payload))
        return false;
    std::uint8_t compatible = 0;
    std::uint32_t version = 0;
    if (!helper_wire::decode_compatible(payload, compatible, version))
        return false;
    protocol_version_ = version;
    return compatible != 0;
}

bool ovchelper::wait_proto_compatible(std::int32_t retries, std::uint32_t pause_seconds)
{
    const DWORD pause_ms = static_cast<DWORD>(std::min(pause_seconds * ms_per_second, longest_pause_ms));
    for (;;) {
        if (proto_compatible())
            return true;
        if (retries < 1)
            return false;
        ::Sleep(pause_ms);
        --retries;
    }
}

bool ovchelper::minimum_version_check(std::uint32_t required, request_result* result)
{
    if (protocol_version_ >= required)
        return true;
    if (result == nullptr)
        return false;
    result->ok = 0;
    if (protocol_version_ == 0) {
        result->message = "Please call proto_compatible() API to confirm the feature is suppported by service.";
        return false;
    }
    char text[version_message_limit + 1] = {};
    std::snprintf(text, sizeof(text),
                  "Service does not support the feature, current IPC protocol version : %u, minimum required "
                  "version: %u",
                  static_cast<unsigned>(protocol_version_), static_cast<unsigned>(required));
    result->message = text;
    return false;
}

bool ovchelper::sync_query(std::uint32_t id, bool encoded, mcl::binary_t& payload)
{
    const std::size_t count = connection_count();
    if (count != 1) {
        MCL_LOG("ovchelper::sync_query", 665, "%s than one IPC connection: %d", count == 0 ? "Less" : "More",
                static_cast<int>(count));
        return false;
    }
    // A request whose fields could not be encoded (a path that is not UTF-8) is not sent at all.
    if (!encoded)
        return false;
    const mcl::ipc_connection_ptr connection = connection_at(0);
    return send(id, payload, connection);
}

bool ovchelper::post_simple(std::uint32_t id)
{
    if (connection_count() != 1)
        return false;
    const mcl::ipc_connection_ptr connection = connection_at(0);
    return connection && post(id, mcl::binary_t(), connection);
}

bool ovchelper::send_test_message() { return post_simple(test_message); }
