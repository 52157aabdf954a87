// Feeds arbitrary replies to the client helper's reply decoders. The first byte picks the decoder, the rest is
// the reply. Whatever a decoder keeps must be exactly what the reply's bytes say: the records it holds, written
// back, are the bytes behind the count, and it never holds more records than the reply has room for.
#include "helper/helper_wire.h"
#include "mcl/payload.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using mcl::binary_t;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// Writers of the reply records, in wire order, for writing decoded records back.
void put(binary_t& out, std::uint8_t v) { mcl::put_u8(out, v); }
void put(binary_t& out, std::uint32_t v) { mcl::put_u32(out, v); }
void put(binary_t& out, std::uint64_t v) { mcl::put_u64(out, v); }
void put(binary_t& out, const std::string& v) { mcl::put_string(out, v); }
void put(binary_t& out, const std::u16string& v) { mcl::put_wstring(out, v); }
void put(binary_t& out, const std::vector<std::string>& v) { mcl::put_string_list(out, v); }

template <typename... Fields>
void put_fields(binary_t& out, const Fields&... fields)
{
    (put(out, fields), ...);
}

void put_record(binary_t& out, const protected_service& r)
{
    put_fields(out, r.service_level, r.process_level, r.service_dacl, r.folder_dacl, r.service_name, r.service_sid,
               r.binary_path, r.reference_folder);
}

void put_record(binary_t& out, const protected_process& r)
{
    put_fields(out, r.process_level, r.folder_dacl, r.image_path, r.reference_folder);
}

void put_record(binary_t& out, const protected_registry_key& r)
{
    put_fields(out, r.key_level, r.original_dacl, r.current_dacl, r.root, r.subkey, r.owner_service,
               r.full_access_services);
}

void put_record(binary_t& out, const protected_folder& r)
{
    put_fields(out, r.folder_level, r.folder_dacl, r.folder_path);
}

void put_record(binary_t& out, const quarantined_file& r) { put_fields(out, r.quarantine_name, r.original_path); }

void put_record(binary_t& out, const entry_record& r)
{
    put_fields(out, r.first_number, r.second_number, r.first_text, r.flag_a, r.flag_b, r.third_number, r.second_text,
               r.third_text, r.last_number);
}

void put_record(binary_t& out, const std::string& r) { put(out, r); }

bool starts_with(const binary_t& whole, std::uint32_t offset, const binary_t& part)
{
    return offset + static_cast<std::uint64_t>(part.size()) <= whole.size() &&
           std::memcmp(whole.data() + offset, part.data(), part.size()) == 0;
}

// `minimum` is the smallest wire size of one record: a list can never hold more than the reply has room for.
template <typename Record>
void check_list(const binary_t& reply, std::uint32_t minimum)
{
    std::vector<Record> list(1);  // a stale record, which the decoder must drop
    const bool ok = helper_wire::decode_list(reply, list);
    if (reply.size() < 4) {
        require(!ok && list.empty());
        return;
    }
    require(list.size() <= (reply.size() - 4) / minimum);
    binary_t written;
    for (const Record& record : list)
        put_record(written, record);
    require(starts_with(reply, 4, written));
    std::uint32_t count = 0;
    std::uint32_t cursor = 0;
    require(mcl::get_u32(reply, cursor, count));
    require(ok ? list.size() == count : list.size() < count);
}

void check_result(const binary_t& reply)
{
    request_result result{9, "stale"};
    const bool ok = helper_wire::decode_result(reply, result);
    require(result.ok == (reply.size() > 0 ? reply[0] : 0));
    if (!ok) {
        // Nothing but the flag is kept from a reply whose message does not end inside it.
        require(result.message.empty());
        require(reply.size() < 2 || std::memchr(reply.data() + 1, 0, reply.size() - 1) == nullptr);
        return;
    }
    binary_t written;
    put_fields(written, result.ok, result.message);
    require(starts_with(reply, 0, written));
}

void check_numbers(const binary_t& reply)
{
    std::uint8_t compatible = 0;
    std::uint32_t version = 0;
    const bool compatible_read = helper_wire::decode_compatible(reply, compatible, version);
    require(compatible_read == (reply.size() >= 5));
    if (compatible_read) {
        binary_t written;
        put_fields(written, compatible, version);
        require(starts_with(reply, 0, written));
    }
    std::uint32_t value = 0;
    const bool number_read = helper_wire::decode_u32(reply, value);
    require(number_read == (reply.size() >= 4));
    if (number_read) {
        binary_t written;
        put(written, value);
        require(starts_with(reply, 0, written));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const binary_t reply(data + 1, static_cast<std::uint32_t>(size - 1));
    switch (data[0] % 9) {
    case 0:
        check_list<protected_service>(reply, 10);
        break;
    case 1:
        check_list<protected_process>(reply, 6);
        break;
    case 2:
        check_list<protected_registry_key>(reply, 18);
        break;
    case 3:
        check_list<protected_folder>(reply, 4);
        break;
    case 4:
        check_list<quarantined_file>(reply, 2);
        break;
    case 5:
        check_list<entry_record>(reply, 33);
        break;
    case 6:
        check_list<std::string>(reply, 1);
        break;
    case 7:
        check_result(reply);
        break;
    default:
        check_numbers(reply);
        break;
    }
    return 0;
}
