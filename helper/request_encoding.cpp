#include "helper/helper_wire.h"

#include "mcl/payload.h"
#include "mcl/utf8.h"

namespace helper_wire {

namespace {

// Runs a record's writer and takes back what it appended when a field fails, so a failed encoder never leaves
// half a record in the payload.
template <typename Writer>
bool append_whole(mcl::binary_t& payload, Writer write_fields)
{
    const std::uint32_t before = payload.size();
    if (write_fields())
        return true;
    payload.shrink(payload.size() - before);
    return false;
}

template <typename Record>
bool encode_records(mcl::binary_t& payload, const std::vector<Record>& records)
{
    return append_whole(payload, [&] {
        return mcl::put_list(payload, records,
                             [](mcl::binary_t& out, const Record& record) { return encode(out, record); });
    });
}

} // namespace

bool utf8_to_utf16(const char* text, std::u16string& units)
{
    return mcl::utf8_to_utf16(text != nullptr ? std::string_view(text) : std::string_view(), units,
                              mcl::ill_formed::fail);
}

std::string folder_of(const char* path)
{
    if (path == nullptr)
        return std::string();
    const std::string text(path);
    const std::size_t last = text.rfind('\\');
    if (last == std::string::npos)
        return std::string();
    return text.substr(0, last + 1);
}

bool encode_name(mcl::binary_t& payload, const char* name)
{
    return mcl::put_string(payload, name == nullptr ? "" : name);
}

bool encode_flag(mcl::binary_t& payload, std::uint8_t value) { return mcl::put_u8(payload, value); }

bool encode_u32(mcl::binary_t& payload, std::uint32_t value) { return mcl::put_u32(payload, value); }

bool encode(mcl::binary_t& payload, const service_protection& record)
{
    return append_whole(payload, [&] {
        return mcl::put_u8(payload, record.service_level) && mcl::put_u8(payload, record.process_level) &&
               mcl::put_string(payload, record.service_name);
    });
}

bool encode(mcl::binary_t& payload, const process_protection& record)
{
    return append_whole(payload, [&] {
        return mcl::put_u8(payload, record.protect) && mcl::put_wstring(payload, record.process_path);
    });
}

bool encode(mcl::binary_t& payload, const registry_protection& record)
{
    return append_whole(payload, [&] {
        return mcl::put_u8(payload, record.protect) && mcl::put_u64(payload, record.root) &&
               mcl::put_wstring(payload, record.subkey) && mcl::put_string(payload, record.owner_service) &&
               mcl::put_string_list(payload, record.full_access_services) && mcl::put_u32(payload, record.option);
    });
}

bool encode(mcl::binary_t& payload, const service_start_params& record)
{
    return append_whole(payload, [&] {
        return mcl::put_string(payload, record.service_name) && mcl::put_string_list(payload, record.arguments);
    });
}

bool encode(mcl::binary_t& payload, const quarantine_container& record)
{
    return append_whole(payload, [&] {
        return mcl::put_string(payload, record.container_name) && mcl::put_string_list(payload, record.files);
    });
}

bool encode(mcl::binary_t& payload, const file_operation& record)
{
    return append_whole(payload, [&] {
        return mcl::put_u32(payload, record.operation) && mcl::put_string(payload, record.folder) &&
               mcl::put_string_list(payload, record.paths);
    });
}

bool encode(mcl::binary_t& payload, const container_operation& record)
{
    return append_whole(payload, [&] {
        return mcl::put_i32(payload, record.operation) && mcl::put_string(payload, record.container_name);
    });
}

bool encode(mcl::binary_t& payload, const lists_request& record)
{
    return append_whole(payload, [&] {
        return mcl::put_u32(payload, record.code) && mcl::put_string_list(payload, record.first) &&
               mcl::put_string_list(payload, record.second);
    });
}

bool encode(mcl::binary_t& payload, const entry_params& record)
{
    return append_whole(payload, [&] {
        return mcl::put_u8(payload, record.kind) && mcl::put_string(payload, record.name) &&
               mcl::put_string(payload, record.second_text) && mcl::put_string(payload, record.third_text) &&
               mcl::put_u8(payload, record.flag_a) && mcl::put_u8(payload, record.flag_b) &&
               mcl::put_u32(payload, record.number);
    });
}

bool encode(mcl::binary_t& payload, const std::vector<service_protection>& records)
{
    return encode_records(payload, records);
}

bool encode(mcl::binary_t& payload, const std::vector<process_protection>& records)
{
    return encode_records(payload, records);
}

bool encode(mcl::binary_t& payload, const std::vector<registry_protection>& records)
{
    return encode_records(payload, records);
}

} // namespace helper_wire
