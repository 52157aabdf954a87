// The helper's requests: each operation encodes its payload, sends it through sync_query and reads the reply
// with the convention of its kind (a result, a result always handed back, or a list).
#include "helper/helper_wire.h"
#include "helper/ovchelper.h"

#include <iterator>

namespace {

constexpr std::uint32_t services_request = 0x1000002;
constexpr std::uint32_t processes_request = 0x1000003;
constexpr std::uint32_t query_services_request = 0x1000004;
constexpr std::uint32_t query_processes_request = 0x1000005;
constexpr std::uint32_t pause_request = 0x1000006;
constexpr std::uint32_t resume_request = 0x1000007;
constexpr std::uint32_t e_switch_request = 0x1000008;
constexpr std::uint32_t value_0a_request = 0x100000A;
constexpr std::uint32_t registry_keys_request = 0x100000B;
constexpr std::uint32_t query_registry_keys_request = 0x100000C;
constexpr std::uint32_t query_folders_request = 0x100000D;
constexpr std::uint32_t start_service_request = 0x1000065;
constexpr std::uint32_t stop_service_request = 0x1000066;
constexpr std::uint32_t recover_service_dacl_request = 0x1000067;
constexpr std::uint32_t switch_68_request = 0x1000068;
constexpr std::uint32_t name_69_request = 0x1000069;
constexpr std::uint32_t recover_registry_key_dacl_request = 0x100006A;
constexpr std::uint32_t d_switch_request = 0x1000096;
constexpr std::uint32_t create_container_request = 0x10000C9;
constexpr std::uint32_t file_operation_request = 0x10000CA;
constexpr std::uint32_t container_operation_request = 0x10000CB;
constexpr std::uint32_t list_files_request = 0x10000CC;
constexpr std::uint32_t list_containers_request = 0x10000CD;
constexpr std::uint32_t name_check_ce_request = 0x10000CE;
constexpr std::uint32_t name_cf_request = 0x10000CF;
constexpr std::uint32_t name_d0_request = 0x10000D0;
constexpr std::uint32_t lists_d1_request = 0x10000D1;
constexpr std::uint32_t name_check_d2_request = 0x10000D2;
constexpr std::uint32_t entry_request_id = 0x10000FA;
constexpr std::uint32_t entry_list_request = 0x10000FB;

constexpr std::uint8_t entry_kind = 0;
constexpr std::uint8_t entry_alt_kind = 1;
constexpr std::uint32_t quarantine_operation = 0;
constexpr std::uint32_t remove_operation = 1;
constexpr std::uint32_t restore_operation = 2;

std::string text(const char* value) { return value != nullptr ? value : ""; }

} // namespace

// Result replies: the caller's result is written only when the exchange and the reading succeeded.
bool ovchelper::result_query(std::uint32_t id, bool encoded, mcl::binary_t& payload, request_result* result)
{
    if (!sync_query(id, encoded, payload))
        return false;
    request_result read;
    if (!helper_wire::decode_result(payload, read))
        return false;
    if (result != nullptr)
        *result = read;
    return read.ok != 0;
}

// The same reply, but the caller always gets what was read (ok 0 and no message when nothing was).
bool ovchelper::always_written_query(std::uint32_t id, bool encoded, mcl::binary_t& payload,
                                     request_result* result, bool needs_yes)
{
    request_result read;
    const bool answered = sync_query(id, encoded, payload) && helper_wire::decode_result(payload, read);
    if (result != nullptr)
        *result = read;
    return answered && read.ok != 0 && (!needs_yes || read.message == "yes");
}

// List replies: the records are added to the caller's list only when the whole reply decoded.
template <typename Record>
bool ovchelper::list_query(std::uint32_t id, bool encoded, mcl::binary_t& payload, std::vector<Record>& list)
{
    if (!sync_query(id, encoded, payload))
        return false;
    std::vector<Record> decoded;
    if (!helper_wire::decode_list(payload, decoded))
        return false;
    list.insert(list.end(), std::make_move_iterator(decoded.begin()), std::make_move_iterator(decoded.end()));
    return true;
}

bool ovchelper::protect_service(const char* name, request_result* result)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, std::vector<service_protection>{{1, 1, text(name)}});
    return result_query(services_request, encoded, payload, result);
}

bool ovchelper::unprotect_service(const char* name, request_result* result)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, std::vector<service_protection>{{0, 0, text(name)}});
    return result_query(services_request, encoded, payload, result);
}

bool ovchelper::protect_services(const std::vector<service_protection>& records, request_result* result)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, records);
    return result_query(services_request, encoded, payload, result);
}

bool ovchelper::process_request(std::uint8_t protect, const char* path, request_result* result)
{
    process_protection record;
    record.protect = protect;
    mcl::binary_t payload;
    const bool encoded = helper_wire::utf8_to_utf16(path, record.process_path) &&
                         helper_wire::encode(payload, std::vector<process_protection>{record});
    return result_query(processes_request, encoded, payload, result);
}

bool ovchelper::protect_process(const char* path, request_result* result) { return process_request(1, path, result); }

bool ovchelper::unprotect_process(const char* path, request_result* result)
{
    return process_request(0, path, result);
}

bool ovchelper::protect_processes(const std::vector<process_protection>& records, request_result* result)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, records);
    return result_query(processes_request, encoded, payload, result);
}

bool ovchelper::registry_request(std::uint32_t id, std::uint8_t protect, std::uint64_t root, const char* subkey,
                                 std::uint32_t option, request_result* result)
{
    registry_protection record;
    record.protect = protect;
    record.root = root;
    record.option = option;
    mcl::binary_t payload;
    const bool encoded = helper_wire::utf8_to_utf16(subkey, record.subkey) &&
                         helper_wire::encode(payload, std::vector<registry_protection>{record});
    return result_query(id, encoded, payload, result);
}

// The single request carries an empty owner, like its unprotect sibling; a caller that needs an owner
// recorded uses protect_registry_keys.
bool ovchelper::protect_registry_key(std::uint64_t root, const char* subkey, const char* owner,
                                     request_result* result)
{
    (void)owner;
    return registry_request(registry_keys_request, 1, root, subkey, 1, result);
}

bool ovchelper::unprotect_registry_key(std::uint64_t root, const char* subkey, request_result* result)
{
    return registry_request(registry_keys_request, 0, root, subkey, 0, result);
}

bool ovchelper::recover_registry_key_dacl(std::uint64_t root, const char* subkey, request_result* result)
{
    return registry_request(recover_registry_key_dacl_request, 0, root, subkey, 0, result);
}

bool ovchelper::protect_registry_keys(const std::vector<registry_protection>& records, request_result* result)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, records);
    return result_query(registry_keys_request, encoded, payload, result);
}

bool ovchelper::query_protected_services(std::uint8_t log, std::vector<protected_service>& list)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_flag(payload, log);
    return list_query(query_services_request, encoded, payload, list);
}

bool ovchelper::query_protected_processes(std::uint8_t log, std::vector<protected_process>& list)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_flag(payload, log);
    return list_query(query_processes_request, encoded, payload, list);
}

bool ovchelper::query_protected_registry_keys(std::uint8_t log, std::vector<protected_registry_key>& list)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_flag(payload, log);
    return list_query(query_registry_keys_request, encoded, payload, list);
}

bool ovchelper::query_protected_folders(std::uint8_t log, std::vector<protected_folder>& list)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_flag(payload, log);
    return list_query(query_folders_request, encoded, payload, list);
}

bool ovchelper::pause_protection(request_result* result)
{
    mcl::binary_t payload;
    return result_query(pause_request, true, payload, result);
}

bool ovchelper::resume_protection(request_result* result)
{
    mcl::binary_t payload;
    return result_query(resume_request, true, payload, result);
}

bool ovchelper::switch_query(std::uint32_t id, std::uint8_t on, request_result* result)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_flag(payload, on);
    return result_query(id, encoded, payload, result);
}

bool ovchelper::set_e_switch(std::uint8_t on, request_result* result)
{
    return switch_query(e_switch_request, on, result);
}

bool ovchelper::set_d_switch(std::uint8_t on, request_result* result)
{
    return switch_query(d_switch_request, on, result);
}

bool ovchelper::switch_request_68(std::uint8_t on, request_result* result)
{
    return switch_query(switch_68_request, on, result);
}

std::uint32_t ovchelper::query_value_0a()
{
    mcl::binary_t payload;
    std::uint32_t value = 0;
    if (!sync_query(value_0a_request, true, payload) || !helper_wire::decode_u32(payload, value))
        return 0;
    return value;
}

bool ovchelper::start_service(const service_start_params& params, request_result* result)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, params);
    return result_query(start_service_request, encoded, payload, result);
}

bool ovchelper::name_query(std::uint32_t id, const char* name, request_result* result)
{
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_name(payload, name);
    return result_query(id, encoded, payload, result);
}

bool ovchelper::stop_service(const char* name, request_result* result)
{
    return name_query(stop_service_request, name, result);
}

bool ovchelper::recover_service_dacl(const char* name, request_result* result)
{
    return name_query(recover_service_dacl_request, name, result);
}

bool ovchelper::name_request_69(const char* name, request_result* result)
{
    return name_query(name_69_request, name, result);
}

bool ovchelper::create_quarantine_container(quarantine_container container, request_result* result)
{
    if (!minimum_version_check(quarantine_min_version, result))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, container);
    return result_query(create_container_request, encoded, payload, result);
}

bool ovchelper::file_request(std::uint32_t operation, const char* folder, const char* path, request_result* result)
{
    file_operation request;
    request.operation = operation;
    request.folder = text(folder);
    request.paths.push_back(text(path));
    return run_file_operation(request, result);
}

bool ovchelper::quarantine_file(const char* container, const char* path, request_result* result)
{
    return file_request(quarantine_operation, container, path, result);
}

bool ovchelper::remove_quarantined_file(const char* path, request_result* result)
{
    return file_request(remove_operation, helper_wire::folder_of(path).c_str(), path, result);
}

bool ovchelper::restore_quarantined_file(const char* path, request_result* result)
{
    return file_request(restore_operation, helper_wire::folder_of(path).c_str(), path, result);
}

bool ovchelper::run_file_operation(file_operation operation, request_result* result)
{
    if (!minimum_version_check(quarantine_min_version, result))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, operation);
    return result_query(file_operation_request, encoded, payload, result);
}

bool ovchelper::run_container_operation(container_operation operation, request_result* result)
{
    if (!minimum_version_check(quarantine_min_version, result))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, operation);
    return result_query(container_operation_request, encoded, payload, result);
}

bool ovchelper::list_quarantined_files(const char* container, std::vector<quarantined_file>& list)
{
    if (!minimum_version_check(quarantine_min_version, nullptr))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_name(payload, container);
    return list_query(list_files_request, encoded, payload, list);
}

// Refills the caller's list from the reply directly: after a failure midway it holds the names read so far.
bool ovchelper::list_quarantine_containers(std::vector<std::string>& names)
{
    if (!minimum_version_check(quarantine_min_version, nullptr))
        return false;
    mcl::binary_t payload;
    if (!sync_query(list_containers_request, true, payload))
        return false;
    return helper_wire::decode_list(payload, names);
}

bool ovchelper::name_check_ce(const char* name, request_result* result)
{
    if (!minimum_version_check(quarantine_min_version, result))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_name(payload, name);
    return always_written_query(name_check_ce_request, encoded, payload, result, true);
}

bool ovchelper::name_request_cf(const char* name, request_result* result)
{
    if (!minimum_version_check(quarantine_min_version, result))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_name(payload, name);
    return always_written_query(name_cf_request, encoded, payload, result, false);
}

bool ovchelper::name_request_d0(const char* name, request_result* result)
{
    if (!minimum_version_check(quarantine_min_version, result))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_name(payload, name);
    return always_written_query(name_d0_request, encoded, payload, result, false);
}

bool ovchelper::lists_request_d1(lists_request request, request_result* result)
{
    if (!minimum_version_check(quarantine_min_version, result))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, request);
    return result_query(lists_d1_request, encoded, payload, result);
}

bool ovchelper::name_check_d2(const char* name, request_result* result)
{
    if (!minimum_version_check(quarantine_min_version, result))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_name(payload, name);
    return always_written_query(name_check_d2_request, encoded, payload, result, true);
}

bool ovchelper::entry_query(const entry_params& params, request_result* result)
{
    if (!minimum_version_check(entry_min_version, result))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode(payload, params);
    return always_written_query(entry_request_id, encoded, payload, result, false);
}

bool ovchelper::entry_request(const char* name, const char* second_text, const char* third_text,
                              std::uint8_t flag_a, std::uint8_t flag_b, std::uint32_t number, request_result* result)
{
    return entry_query({entry_kind, text(name), text(second_text), text(third_text), flag_a, flag_b, number},
                       result);
}

bool ovchelper::entry_request_alt(const char* name, const char* second_text, const char* third_text,
                                  std::uint8_t flag_a, std::uint8_t flag_b, std::uint32_t number,
                                  request_result* result)
{
    return entry_query({entry_alt_kind, text(name), text(second_text), text(third_text), flag_a, flag_b, number},
                       result);
}

bool ovchelper::entry_request_own(const char* second_text, const char* third_text, std::uint8_t flag_a,
                                  std::uint8_t flag_b, std::uint32_t number, request_result* result)
{
    return entry_request(name().c_str(), second_text, third_text, flag_a, flag_b, number, result);
}

bool ovchelper::entry_request_alt_own(const char* second_text, const char* third_text, std::uint8_t flag_a,
                                      std::uint8_t flag_b, std::uint32_t number, request_result* result)
{
    return entry_request_alt(name().c_str(), second_text, third_text, flag_a, flag_b, number, result);
}

bool ovchelper::entry_list(const char* name, std::vector<entry_record>& list)
{
    if (!minimum_version_check(entry_min_version, nullptr))
        return false;
    mcl::binary_t payload;
    const bool encoded = helper_wire::encode_name(payload, name);
    return list_query(entry_list_request, encoded, payload, list);
}

bool ovchelper::entry_list_own(std::vector<entry_record>& list) { return entry_list(name().c_str(), list); }
