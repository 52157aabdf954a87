#include "helper/helper_wire.h"

#include "mcl/payload.h"

#include <algorithm>

namespace helper_wire {

namespace {

using mcl::binary_t;

// The fewest bytes a record takes on the wire: empty strings (one 0 byte narrow, two wide) and empty lists.
template <typename Record>
constexpr std::uint32_t min_encoded_size = 1;
template <>
constexpr std::uint32_t min_encoded_size<protected_service> = 1 + 1 + 1 + 1 + 1 + 1 + 2 + 2;
template <>
constexpr std::uint32_t min_encoded_size<protected_process> = 1 + 1 + 2 + 2;
template <>
constexpr std::uint32_t min_encoded_size<protected_registry_key> = 1 + 1 + 1 + 8 + 2 + 1 + 4;
template <>
constexpr std::uint32_t min_encoded_size<protected_folder> = 1 + 1 + 2;
template <>
constexpr std::uint32_t min_encoded_size<quarantined_file> = 1 + 1;
template <>
constexpr std::uint32_t min_encoded_size<entry_record> = 8 + 8 + 1 + 1 + 1 + 8 + 1 + 1 + 4;

// One reply, read front to back. Its lists, nested ones included, draw their elements from one allowance.
class reply_reader {
public:
    explicit reply_reader(const binary_t& reply) : in_(reply) {}

    bool read(std::uint8_t& value) { return mcl::get_u8(in_, at_, value); }
    bool read(std::uint32_t& value) { return mcl::get_u32(in_, at_, value); }
    bool read(std::uint64_t& value) { return mcl::get_u64(in_, at_, value); }
    bool read(std::string& value) { return mcl::get_string(in_, at_, value); }
    bool read(std::u16string& value) { return mcl::get_wstring(in_, at_, value); }
    bool read(std::vector<std::string>& value) { return read_list(value); }

    // Reads the fields in order; the first that does not fit stops the record.
    template <typename... Fields>
    bool fields(Fields&... values)
    {
        return (read(values) && ...);
    }

    // The count comes from the service: room is made for no more records than the bytes left could hold,
    // and records are decoded one at a time, so a count that promises more fails at the first missing one.
    template <typename Record>
    bool read_list(std::vector<Record>& list)
    {
        list.clear();
        std::uint32_t count = 0;
        if (!mcl::get_u32(in_, at_, count))
            return false;
        const std::uint32_t fits = (in_.size() - at_) / min_encoded_size<Record>;
        list.reserve(std::min({count, fits, elements_left_}));
        for (std::uint32_t i = 0; i < count; ++i) {
            if (elements_left_ == 0)
                return false;
            --elements_left_;
            Record record{};
            if (!read_record(record))
                return false;
            list.push_back(std::move(record));
        }
        return true;
    }

private:
    bool read_record(protected_service& r)
    {
        return fields(r.service_level, r.process_level, r.service_dacl, r.folder_dacl, r.service_name,
                      r.service_sid, r.binary_path, r.reference_folder);
    }
    bool read_record(protected_process& r)
    {
        return fields(r.process_level, r.folder_dacl, r.image_path, r.reference_folder);
    }
    bool read_record(protected_registry_key& r)
    {
        return fields(r.key_level, r.original_dacl, r.current_dacl, r.root, r.subkey, r.owner_service,
                      r.full_access_services);
    }
    bool read_record(protected_folder& r) { return fields(r.folder_level, r.folder_dacl, r.folder_path); }
    bool read_record(quarantined_file& r) { return fields(r.quarantine_name, r.original_path); }
    bool read_record(entry_record& r)
    {
        return fields(r.first_number, r.second_number, r.first_text, r.flag_a, r.flag_b, r.third_number,
                      r.second_text, r.third_text, r.last_number);
    }
    bool read_record(std::string& r) { return read(r); }

    const binary_t& in_;
    std::uint32_t at_ = 0;
    std::uint32_t elements_left_ = max_reply_elements;
};

template <typename Record>
bool decode_records(const binary_t& reply, std::vector<Record>& list)
{
    reply_reader reader(reply);
    return reader.read_list(list);
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
