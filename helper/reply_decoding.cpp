#include "helper/helper_wire.h"

#include "mcl/payload.h"

namespace helper_wire {

namespace {

using mcl::binary_t;

bool read(const binary_t& in, std::uint32_t& at, std::uint8_t& value) { return mcl::get_u8(in, at, value); }
bool read(const binary_t& in, std::uint32_t& at, std::uint32_t& value) { return mcl::get_u32(in, at, value); }
bool read(const binary_t& in, std::uint32_t& at, std::uint64_t& value) { return mcl::get_u64(in, at, value); }
bool read(const binary_t& in, std::uint32_t& at, std::string& value) { return mcl::get_string(in, at, value); }
bool read(const binary_t& in, std::uint32_t& at, std::u16string& value) { return mcl::get_wstring(in, at, value); }
bool read(const binary_t& in, std::uint32_t& at, std::vector<std::string>& value)
{
    return mcl::get_string_list(in, at, value);
}

// Reads the fields in order; the first that does not fit stops the record.
template <typename... Fields>
bool read_fields(const binary_t& in, std::uint32_t& at, Fields&... fields)
{
    return (read(in, at, fields) && ...);
}

bool read_record(const binary_t& in, std::uint32_t& at, protected_service& r)
{
    return read_fields(in, at, r.service_level, r.process_level, r.service_dacl, r.folder_dacl, r.service_name,
                       r.service_sid, r.binary_path, r.reference_folder);
}

bool read_record(const binary_t& in, std::uint32_t& at, protected_process& r)
{
    return read_fields(in, at, r.process_level, r.folder_dacl, r.image_path, r.reference_folder);
}

bool read_record(const binary_t& in, std::uint32_t& at, protected_registry_key& r)
{
    return read_fields(in, at, r.key_level, r.original_dacl, r.current_dacl, r.root, r.subkey, r.owner_service,
                       r.full_access_services);
}

bool read_record(const binary_t& in, std::uint32_t& at, protected_folder& r)
{
    return read_fields(in, at, r.folder_level, r.folder_dacl, r.folder_path);
}

bool read_record(const binary_t& in, std::uint32_t& at, quarantined_file& r)
{
    return read_fields(in, at, r.quarantine_name, r.original_path);
}

bool read_record(const binary_t& in, std::uint32_t& at, entry_record& r)
{
    return read_fields(in, at, r.first_number, r.second_number, r.first_text, r.flag_a, r.flag_b, r.third_number,
                       r.second_text, r.third_text, r.last_number);
}

bool read_record(const binary_t& in, std::uint32_t& at, std::string& r) { return read(in, at, r); }

// The count comes from the service: records are decoded one at a time and appended as they complete, so a
// count that promises more than the reply holds fails at the first missing record, never sizing anything by it.
template <typename Record>
bool decode_records(const binary_t& reply, std::vector<Record>& list)
{
    std::uint32_t cursor = 0;
    return mcl::get_list(reply, cursor, list, [](const binary_t& in, std::uint32_t& at, Record& record) {
        return read_record(in, at, record);
    });
}

} // namespace

bool decode_result(const binary_t& reply, request_result& result)
{
    result = request_result();
    std::uint32_t cursor = 0;
    if (!mcl::get_u8(reply, cursor, result.ok))
        return false;
    return mcl::get_string(reply, cursor, result.message);
}

bool decode_compatible(const binary_t& reply, std::uint8_t& compatible, std::uint32_t& version)
{
    std::uint32_t cursor = 0;
    std::uint8_t flag = 0;
    std::uint32_t number = 0;
    if (!mcl::get_u8(reply, cursor, flag) || !mcl::get_u32(reply, cursor, number))
        return false;
    compatible = flag;
    version = number;
    return true;
}

bool decode_u32(const binary_t& reply, std::uint32_t& value)
{
    std::uint32_t cursor = 0;
    return mcl::get_u32(reply, cursor, value);
}

bool decode_list(const binary_t& reply, std::vector<protected_service>& list) { return decode_records(reply, list); }
bool decode_list(const binary_t& reply, std::vector<protected_process>& list) { return decode_records(reply, list); }
bool decode_list(const binary_t& reply, std::vector<protected_registry_key>& list)
{
    return decode_records(reply, list);
}
bool decode_list(const binary_t& reply, std::vector<protected_folder>& list) { return decode_records(reply, list); }
bool decode_list(const binary_t& reply, std::vector<quarantined_file>& list) { return decode_records(reply, list); }
bool decode_list(const binary_t& reply, std::vector<entry_record>& list) { return decode_records(reply, list); }
bool decode_list(const binary_t& reply, std::vector<std::string>& list) { return decode_records(reply, list); }

} // namespace helper_wire
