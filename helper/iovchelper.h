// The client protection service's client library, as its callers see it: the interface of a client helper,
// the records its requests carry and its replies fill, and the two functions that create and release a
// helper. Pure declarations without <windows.h>: a registry root is the 64-bit value of the Windows
// predefined key, and wide texts are UTF-16 code units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Predefined registry roots as 64-bit values (the 32-bit handle values sign-extended).
constexpr std::uint64_t hkey_classes_root = 0xFFFFFFFF80000000ull;
constexpr std::uint64_t hkey_current_user = 0xFFFFFFFF80000001ull;
constexpr std::uint64_t hkey_local_machine = 0xFFFFFFFF80000002ull;
constexpr std::uint64_t hkey_users = 0xFFFFFFFF80000003ull;
constexpr std::uint64_t hkey_current_config = 0xFFFFFFFF80000005ull;

// The protocol version this client announces, and the service versions that newer operations need.
constexpr std::uint32_t client_protocol_version = 5;
constexpr std::uint32_t quarantine_min_version = 3;
constexpr std::uint32_t entry_min_version = 5;

// The common reply of the service's requests.
struct request_result {
    std::uint8_t ok = 0;
    std::string message;
};

// Request records, fields in wire order.
struct service_protection {
    std::uint8_t service_level = 0;
    std::uint8_t process_level = 0;
    std::string service_name;
};

struct process_protection {
    std::uint8_t protect = 0;
    std::u16string process_path;
};

struct registry_protection {
    std::uint8_t protect = 0;
    std::uint64_t root = 0;
    std::u16string subkey;
    std::string owner_service;
    std::vector<std::string> full_access_services;
    std::uint32_t option = 0;
};

struct service_start_params {
    std::string service_name;
    std::vector<std::string> arguments;
};

struct quarantine_container {
    std::string container_name;
    std::vector<std::string> files;
};

// Operation: 0 quarantine, 1 remove, 2 restore.
struct file_operation {
    std::uint32_t operation = 0;
    std::string folder;
    std::vector<std::string> paths;
};

// Operation: 1 removes the container, 2 restores it.
struct container_operation {
    std::int32_t operation = 0;
    std::string container_name;
};

struct lists_request {
    std::uint32_t code = 0;
    std::vector<std::string> first;
    std::vector<std::string> second;
};

struct entry_params {
    std::uint8_t kind = 0;
    std::string name;
    std::string second_text;
    std::string third_text;
    std::uint8_t flag_a = 0;
    std::uint8_t flag_b = 0;
    std::uint32_t number = 0;
};

// Reply records, fields in wire order.
struct protected_service {
    std::uint8_t service_level = 0;
    std::uint8_t process_level = 0;
    std::string service_dacl;
    std::string folder_dacl;
    std::string service_name;
    std::string service_sid;
    std::u16string binary_path;
    std::u16string reference_folder;
};

struct protected_process {
    std::uint8_t process_level = 0;
    std::string folder_dacl;
    std::u16string image_path;
    std::u16string reference_folder;
};

struct protected_registry_key {
    std::uint8_t key_level = 0;
    std::string original_dacl;
    std::string current_dacl;
    std::uint64_t root = 0;
    std::u16string subkey;
    std::string owner_service;
    std::vector<std::string> full_access_services;
};

struct protected_folder {
    std::uint8_t folder_level = 0;
    std::string folder_dacl;
    std::u16string folder_path;
};

struct quarantined_file {
    std::string quarantine_name;
    std::string original_path;
};

struct entry_record {
    std::uint64_t first_number = 0;
    std::uint64_t second_number = 0;
    std::string first_text;
    std::uint8_t flag_a = 0;
    std::uint8_t flag_b = 0;
    std::uint64_t third_number = 0;
    std::string second_text;
    std::string third_text;
    std::uint32_t last_number = 0;
};

// A client helper. Narrow names and paths are NUL-terminated; a null one counts as empty. `result` may be
// null when the caller does not want the service's answer. Operations return true when the request was sent
// and answered and, where a result is read, the service's `ok` is set. List operations append to the
// caller's list only on success (list_quarantine_containers excepted: it refills the caller's list).
// No data and no virtual destructor: a helper is destroyed only through OVClientHelper::releaseHelper.
class iovchelper {
public:
    virtual bool service_installed(std::string service_name) = 0;                                  // 0
    virtual bool service_stopped(std::string service_name) = 0;                                    // 1
    virtual bool connect(std::int32_t timeout_ms, std::string service_name) = 0;                   // 2
    virtual bool send_test_message() = 0;                                                          // 3
    virtual bool protect_service(const char* name, request_result* result) = 0;                    // 4
    virtual bool protect_process(const char* path, request_result* result) = 0;                    // 5
    virtual bool protect_registry_key(std::uint64_t root, const char* subkey, const char* owner,
                                      request_result* result) = 0;                                 // 6
    virtual bool unprotect_service(const char* name, request_result* result) = 0;                  // 7
    virtual bool unprotect_process(const char* path, request_result* result) = 0;                  // 8
    virtual bool unprotect_registry_key(std::uint64_t root, const char* subkey,
                                        request_result* result) = 0;                               // 9
    virtual bool protect_services(const std::vector<service_protection>& records,
                                  request_result* result) = 0;                                     // 10
    virtual bool protect_processes(const std::vector<process_protection>& records,
                                   request_result* result) = 0;                                    // 11
    virtual bool protect_registry_keys(const std::vector<registry_protection>& records,
                                       request_result* result) = 0;                                // 12
    virtual bool query_protected_services(std::uint8_t log, std::vector<protected_service>& list) = 0;  // 13
    virtual bool query_protected_processes(std::uint8_t log, std::vector<protected_process>& list) = 0;  // 14
    virtual bool query_protected_registry_keys(std::uint8_t log,
                                               std::vector<protected_registry_key>& list) = 0;     // 15
    virtual bool query_protected_folders(std::uint8_t log, std::vector<protected_folder>& list) = 0;  // 16
    virtual bool pause_protection(request_result* result) = 0;                                     // 17
    virtual bool resume_protection(request_result* result) = 0;                                    // 18
    virtual bool set_e_switch(std::uint8_t on, request_result* result) = 0;                        // 19
    virtual bool set_d_switch(std::uint8_t on, request_result* result) = 0;                        // 20
    virtual bool wait_proto_compatible(std::int32_t retries, std::uint32_t pause_seconds) = 0;     // 21
    virtual bool proto_compatible() = 0;                                                           // 22
    virtual std::uint32_t query_value_0a() = 0;                                                    // 23
    virtual bool start_service(const service_start_params& params, request_result* result) = 0;    // 24
    virtual bool stop_service(const char* name, request_result* result) = 0;                       // 25
    virtual bool recover_service_dacl(const char* name, request_result* result) = 0;               // 26
    virtual bool name_request_69(const char* name, request_result* result) = 0;                    // 27
    virtual bool recover_registry_key_dacl(std::uint64_t root, const char* subkey,
                                           request_result* result) = 0;                            // 28
    virtual bool switch_request_68(std::uint8_t on, request_result* result) = 0;                   // 29
    virtual bool create_quarantine_container(quarantine_container container,
                                             request_result* result) = 0;                          // 30
    virtual bool quarantine_file(const char* container, const char* path, request_result* result) = 0;  // 31
    virtual bool remove_quarantined_file(const char* path, request_result* result) = 0;            // 32
    virtual bool restore_quarantined_file(const char* path, request_result* result) = 0;           // 33
    virtual bool run_file_operation(file_operation operation, request_result* result) = 0;         // 34
    virtual bool run_container_operation(container_operation operation, request_result* result) = 0;  // 35
    virtual bool list_quarantined_files(const char* container, std::vector<quarantined_file>& list) = 0;  // 36
    virtual bool list_quarantine_containers(std::vector<std::string>& names) = 0;                  // 37
    virtual bool name_check_ce(const char* name, request_result* result) = 0;                      // 38
    virtual bool name_request_cf(const char* name, request_result* result) = 0;                    // 39
    virtual bool name_request_d0(const char* name, request_result* result) = 0;                    // 40
    virtual bool lists_request_d1(lists_request request, request_result* result) = 0;              // 41
    virtual bool name_check_d2(const char* name, request_result* result) = 0;                      // 42
    virtual bool entry_request_own(const char* second_text, const char* third_text, std::uint8_t flag_a,
                                   std::uint8_t flag_b, std::uint32_t number, request_result* result) = 0;  // 43
    virtual bool entry_request(const char* name, const char* second_text, const char* third_text,
                               std::uint8_t flag_a, std::uint8_t flag_b, std::uint32_t number,
                               request_result* result) = 0;                                        // 44
    virtual bool entry_request_alt_own(const char* second_text, const char* third_text, std::uint8_t flag_a,
                                       std::uint8_t flag_b, std::uint32_t number,
                                       request_result* result) = 0;                                // 45
    virtual bool entry_request_alt(const char* name, const char* second_text, const char* third_text,
                                   std::uint8_t flag_a, std::uint8_t flag_b, std::uint32_t number,
                                   request_result* result) = 0;                                    // 46
    virtual bool entry_list_own(std::vector<entry_record>& list) = 0;                              // 47
    virtual bool entry_list(const char* name, std::vector<entry_record>& list) = 0;                // 48

protected:
    ~iovchelper() = default;
};

// A new, unconnected helper under the peer name "OVClientHelperCLI"; null when it cannot be made.
iovchelper* create_helper();

namespace OVClientHelper {
// Destroys a helper made by create_helper; anything else (null included) is logged and left alone.
void releaseHelper(iovchelper* helper);
} // namespace OVClientHelper
