// Service control manager queries and actions for the client helper and the self-tests.
#pragma once

#include "mcl/buffer.h"
#include "mcl/mswin/unique_resource.h"

namespace mcl::mswin::service {

// Longest start-pending wait of start(), in one-second polls.
constexpr unsigned start_pending_polls = 60;

bool is_installed(const char* name);
bool is_running(const char* name);

// Starts a stopped service and waits while it is start-pending. False when it was already running, could
// not be started, or did not reach the running state (also after start_pending_polls seconds).
bool start(const char* name);

// Fills `config` with a self-contained copy of the service's configuration: the record as the service
// control manager gives it, followed by copies of its strings, the record's string pointers aimed at those
// copies (valid while `config` is neither changed, copied nor moved). `exists` tells whether the service
// could be opened.
bool query_config(const char* name, bool& exists, binary_t& config);
bool query_config_w(const char* name, bool& exists, binary_t& config);

// The copy itself: record, then binary path, dependencies (the whole list), display name, load order group and
// start name, each with its terminator; missing strings become empty ones.
bool copy_config(const QUERY_SERVICE_CONFIGA& raw, binary_t& config);
bool copy_config(const QUERY_SERVICE_CONFIGW& raw, binary_t& config);

inline const QUERY_SERVICE_CONFIGA* config_record(const binary_t& config)
{
    return config.size() >= sizeof(QUERY_SERVICE_CONFIGA) ? reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(config.data())
                                                          : nullptr;
}

inline const QUERY_SERVICE_CONFIGW* config_record_w(const binary_t& config)
{
    return config.size() >= sizeof(QUERY_SERVICE_CONFIGW) ? reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())
                                                          : nullptr;
}

// Security identifier of the service's virtual account "NT SERVICE\<name>". Whatever the result, `sid` then
// holds a zero-filled or filled SID block that the caller owns; null `sid` is an invalid parameter.
bool get_sid(const char* name, unique_hlocal* sid);

} // namespace mcl::mswin::service
