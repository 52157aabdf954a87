// The client helper: an IPC peer that holds one connection to the client protection service and carries
// every request of the iovchelper interface over it as one blocking exchange.
#pragma once

#include "helper/iovchelper.h"
#include "mcl/buffer.h"
#include "mcl/ipc_peer.h"
#include "mcl/mswin/unique_resource.h"

#include <cstdint>
#include <string>
#include <vector>

class ovchelper : public mcl::ipc_peer, public iovchelper {
public:
    // Receives what the service sends of its own accord (requests and one-way messages) and hands it to the
    // owner's delegate; without one, a request is answered with its own payload and a message is dropped.
    class agent_msg_handler : public mcl::ipc_msg_handler {
    public:
        std::int32_t handle_message(const mcl::ipc_connection_ptr& connection, std::uint32_t id,
                                    mcl::binary_t& payload) override;

        ovchelper* owner = nullptr;
    };

    // The one-way messages of the protocol.
    static constexpr std::uint32_t leaving_message = 0x1000000;
    static constexpr std::uint32_t test_message = 0x1000001;

    ovchelper();
    // Tells the service the client leaves, then ends the connection while the handler still exists.
    ~ovchelper() override;
    ovchelper(const ovchelper&) = delete;
    ovchelper& operator=(const ovchelper&) = delete;

    // Where unsolicited messages go; set it before connect, it is read on the peer's event thread unlocked.
    void set_event_delegate(mcl::ipc_msg_handler* delegate) { event_delegate_ = delegate; }
    mcl::ipc_msg_handler* event_delegate() const { return event_delegate_; }
    // The service's protocol version as last reported; 0 while unknown.
    std::uint32_t protocol_version() const { return protocol_version_; }

    bool service_installed(std::string service_name) override;
    bool service_stopped(std::string service_name) override;
    bool connect(std::int32_t timeout_ms, std::string service_name) override;
    bool send_test_message() override;
    bool protect_service(const char* name, request_result* result) override;
    bool protect_process(const char* path, request_result* result) override;
    bool protect_registry_key(std::uint64_t root, const char* subkey, const char* owner,
                              request_result* result) override;
    bool unprotect_service(const char* name, request_result* result) override;
    bool unprotect_process(const char* path, request_result* result) override;
    bool unprotect_registry_key(std::uint64_t root, const char* subkey, request_result* result) override;
    bool protect_services(const std::vector<service_protection>& records, request_result* result) override;
    bool protect_processes(const std::vector<process_protection>& records, request_result* result) override;
    bool protect_registry_keys(const std::vector<registry_protection>& records, request_result* result) override;
    bool query_protected_services(std::uint8_t log, std::vector<protected_service>& list) override;
    bool query_protected_processes(std::uint8_t log, std::vector<protected_process>& list) override;
    bool query_protected_registry_keys(std::uint8_t log, std::vector<protected_registry_key>& list) override;
    bool query_protected_folders(std::uint8_t log, std::vector<protected_folder>& list) override;
    bool pause_protection(request_result* result) override;
    bool resume_protection(request_result* result) override;
    bool set_e_switch(std::uint8_t on, request_result* result) override;
    bool set_d_switch(std::uint8_t on, request_result* result) override;
    bool wait_proto_compatible(std::int32_t retries, std::uint32_t pause_seconds) override;
    bool proto_compatible() override;
    std::uint32_t query_value_0a() override;
    bool start_service(const service_start_params& params, request_result* result) override;
    bool stop_service(const char* name, request_result* result) override;
    bool recover_service_dacl(const char* name, request_result* result) override;
    bool name_request_69(const char* name, request_result* result) override;
    bool recover_registry_key_dacl(std::uint64_t root, const char* subkey, request_result* result) override;
    bool switch_request_68(std::uint8_t on, request_result* result) override;
    bool create_quarantine_container(quarantine_container container, request_result* result) override;
    bool quarantine_file(const char* container, const char* path, request_result* result) override;
    bool remove_quarantined_file(const char* path, request_result* result) override;
    bool restore_quarantined_file(const char* path, request_result* result) override;
    bool run_file_operation(file_operation operation, request_result* result) override;
    bool run_container_operation(container_operation operation, request_result* result) override;
    bool list_quarantined_files(const char* container, std::vector<quarantined_file>& list) override;
    bool list_quarantine_containers(std::vector<std::string>& names) override;
    bool name_check_ce(const char* name, request_result* result) override;
    bool name_request_cf(const char* name, request_result* result) override;
    bool name_request_d0(const char* name, request_result* result) override;
    bool lists_request_d1(lists_request request, request_result* result) override;
    bool name_check_d2(const char* name, request_result* result) override;
    bool entry_request_own(const char* second_text, const char* third_text, std::uint8_t flag_a, std::uint8_t flag_b,
                           std::uint32_t number, request_result* result) override;
    bool entry_request(const char* name, const char* second_text, const char* third_text, std::uint8_t flag_a,
                       std::uint8_t flag_b, std::uint32_t number, request_result* result) override;
    bool entry_request_alt_own(const char* second_text, const char* third_text, std::uint8_t flag_a,
                               std::uint8_t flag_b, std::uint32_t number, request_result* result) override;
    bool entry_request_alt(const char* name, const char* second_text, const char* third_text, std::uint8_t flag_a,
                           std::uint8_t flag_b, std::uint32_t number, request_result* result) override;
    bool entry_list_own(std::vector<entry_record>& list) override;
    bool entry_list(const char* name, std::vector<entry_record>& list) override;

    // True when the service's version is at least `required`; otherwise fills `result` (when given) with
    // ok 0 and the reason.
    bool minimum_version_check(std::uint32_t required, request_result* result);

    // The one exchange every request goes through: with exactly one connection and a well-encoded request,
    // sends `payload` under `id` and leaves the reply in it. Nothing is sent otherwise.
    bool sync_query(std::uint32_t id, bool encoded, mcl::binary_t& payload);
    // A one-way message with an empty payload on the one connection.
    bool post_simple(std::uint32_t id);

protected:
    // Only the process the service under `name` runs in may serve its pipes.
    bool server_trusted(const char* name, mcl::ipc_connection& connection) override;

private:
    // The reply conventions of the requests.
    bool result_query(std::uint32_t id, bool encoded, mcl::binary_t& payload, request_result* result);
    bool always_written_query(std::uint32_t id, bool encoded, mcl::binary_t& payload, request_result* result,
                              bool needs_yes);
    template <typename Record>
    bool list_query(std::uint32_t id, bool encoded, mcl::binary_t& payload, std::vector<Record>& list);

    bool registry_request(std::uint32_t id, std::uint8_t protect, std::uint64_t root, const char* subkey,
                          std::uint32_t option, request_result* result);
    bool process_request(std::uint8_t protect, const char* path, request_result* result);
    bool name_query(std::uint32_t id, const char* name, request_result* result);
    bool switch_query(std::uint32_t id, std::uint8_t on, request_result* result);
    bool file_request(std::uint32_t operation, const char* folder, const char* path, request_result* result);
    bool entry_query(const entry_params& params, request_result* result);

    // The service control manager, opened for reading on first use and kept while the helper lives.
    SC_HANDLE service_manager();
    mcl::mswin::unique_schandle open_service(const std::string& name);

    mcl::mswin::unique_schandle manager_;
    agent_msg_handler handler_;
    mcl::ipc_msg_handler* event_delegate_ = nullptr;
    std::uint32_t protocol_version_ = 0;
};
