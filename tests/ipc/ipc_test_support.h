// What the IPC tests share: a listener peer on a thread and hand-driven pipe ends that speak the frame
// format byte by byte.
#pragma once

#include "mcl/ipc_peer.h"
#include "mcl/mswin/unique_resource.h"
#include "scripted_handler.h"
#include "captured_mcl_log.h"
#include "test_support.h"

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace ipctest {

using fltest::captured_mcl_log;
using fltest::eventually;

using bytes = std::vector<unsigned char>;

std::string unique_pipe_name(const char* prefix);

bytes make_frame(std::uint32_t kind, std::uint32_t id, std::uint32_t sequence, const bytes& payload);
bytes to_bytes(const mcl::binary_t& payload);
mcl::binary_t to_binary(const bytes& payload);

// The most memory this process has had in use so far (its peak working set), in bytes.
std::size_t peak_memory();

// A scripted listener peer running run_listener on its own thread under a name unique to the test.
class listener {
public:
    explicit listener(const char* prefix);
    ~listener();
    listener(const listener&) = delete;
    listener& operator=(const listener&) = delete;

    const std::string& name() const { return name_; }
    mcl::ipc_peer& peer() { return peer_; }
    ipc_listener::scripted_handler& handler() { return handler_; }

private:
    std::string name_;
    ipc_listener::scripted_handler handler_;
    mcl::ipc_peer peer_;
    std::thread thread_;
};

enum class read_result { frame, timed_out, broken };

// Synchronous pipe helpers.
bool write_all(HANDLE pipe, const bytes& data);
// Reads exactly one whole frame (header and body) once it is there.
read_result read_frame(HANDLE pipe, DWORD timeout_ms, bytes& frame);

// The connecting side done by hand: opens a listener's pipes and sets its connected event.
class raw_client {
public:
    bool open(const std::string& name);
    HANDLE to_listener() const { return to_listener_.get(); }
    HANDLE from_listener() const { return from_listener_.get(); }
    void close();

private:
    mcl::mswin::unique_handle to_listener_;
    mcl::mswin::unique_handle from_listener_;
};

// The listening side done by hand: the named mutex and event and one pipe pair, for a real peer to
// connect to.
class raw_listener {
public:
    bool create(const std::string& name);
    // Waits for the connecting peer on both pipes (it has already opened them when connect returned).
    bool accept();
    HANDLE to_peer() const { return to_peer_.get(); }
    HANDLE from_peer() const { return from_peer_.get(); }
    // Gives the pipes up (the other side sees a broken pipe) and makes a fresh pair.
    bool renew_pipes();
    void close_pipes();

private:
    std::string name_;
    mcl::mswin::unique_handle mutex_;
    mcl::mswin::unique_handle connected_event_;
    mcl::mswin::unique_handle to_peer_;
    mcl::mswin::unique_handle from_peer_;
};

} // namespace ipctest
