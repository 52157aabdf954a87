// The listening peer of the double: logs every frame it receives, numbers its connections as they come and
// go, and answers each request as the script says or, where it says nothing, from the model.
#pragma once

#include "frame_log.h"
#include "model.h"
#include "script.h"

#include "mcl/event.h"
#include "mcl/ipc_peer.h"
#include "mcl/lock.h"

#include <functional>
#include <string>
#include <vector>

namespace protection_double {

class double_peer : public mcl::ipc_peer {
public:
    // `on_listening` runs once, when the first pipe pair waits for a client.
    double_peer(const std::string& name, std::wstring script_path, frame_log& log,
                std::function<void()> on_listening = std::function<void()>());
    ~double_peer() override;

    // Reads the script's initial objects into the model; call before run_listener.
    void load_model();

    std::int32_t handle_event(const mcl::ipc_event& record) override;
    void connections_changed() override;
    // Also cuts short a scripted delay, so a stop does not wait for it.
    void disconnect() override;

private:
    class answering_handler : public mcl::ipc_msg_handler {
    public:
        explicit answering_handler(double_peer& owner) : owner_(owner) {}
        std::int32_t handle_message(const mcl::ipc_connection_ptr& connection, std::uint32_t id,
                                    mcl::binary_t& payload) override;

    private:
        double_peer& owner_;
    };

    struct tracked {
        mcl::ipc_connection_ptr connection;
        unsigned number = 0;
        script answers;  // the script as it was when the connection came up
    };

    std::int32_t reply_to(const mcl::ipc_connection_ptr& connection, std::uint32_t id, mcl::binary_t& payload);
    std::int32_t act(const protection_double::answer& what, const mcl::ipc_connection_ptr& connection, mcl::binary_t& payload);
    void send_before(const outgoing& frame, unsigned number, const mcl::ipc_connection_ptr& connection);
    script read_script();
    // Under state_lock_: the connection's record, made (and its connect line logged) when it has none yet.
    tracked& track(const mcl::ipc_connection_ptr& connection);
    tracked* find(const mcl::ipc_connection* connection);
    void forget(const mcl::ipc_connection_ptr& connection);

    answering_handler handler_;
    std::wstring script_path_;
    frame_log& log_;
    std::function<void()> on_listening_;
    bool listening_reported_ = false;
    mcl::event stopping_;
    model model_;

    mcl::lock state_lock_;
    unsigned connections_seen_ = 0;
    std::vector<tracked> tracked_;
    // The peer's connection list as last seen, the pair still waiting for a client last.
    std::vector<mcl::ipc_connection_ptr> watched_;
};

// The binary path the service control manager holds for a service; empty when it is not installed.
std::u16string installed_binary_path(const std::string& service_name);

} // namespace protection_double
