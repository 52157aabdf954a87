// The client helper's wire forms: request encoders and reply decoders over the library's payload encoding.
// Pure code without <windows.h>. Every reply is untrusted: decoders check room before each read and size
// nothing by a count taken from the wire beyond what the bytes behind it could hold.
#pragma once

#include "helper/iovchelper.h"
#include "mcl/buffer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace helper_wire {

// Narrow UTF-8 to UTF-16; false (and `units` empty) when the text is not well-formed UTF-8. Null is empty.
bool utf8_to_utf16(const char* text, std::u16string& units);

// The folder of a file path: everything up to and including its last backslash; empty when there is none.
std::string folder_of(const char* path);

// Request fields and records, appended to `payload` in wire order.
bool encode_name(mcl::binary_t& payload, const char* name);  // narrow string; null counts as empty
bool encode_flag(mcl::binary_t& payload, std::uint8_t value);
bool encode_u32(mcl::binary_t& payload, std::uint32_t value);
bool encode(mcl::binary_t& payload, const service_protection& record);
bool encode(mcl::binary_t& payload, const process_protection& record);
bool encode(mcl::binary_t& payload, const registry_protection& record);
bool encode(mcl::binary_t& payload, const service_start_params& record);
bool encode(mcl::binary_t& payload, const quarantine_container& record);
bool encode(mcl::binary_t& payload, const file_operation& record);
bool encode(mcl::binary_t& payload, const container_operation& record);
bool encode(mcl::binary_t& payload, const lists_request& record);
bool encode(mcl::binary_t& payload, const entry_params& record);
// A list of records: the u32 count, then each record.
bool encode(mcl::binary_t& payload, const std::vector<service_protection>& records);
bool encode(mcl::binary_t& payload, const std::vector<process_protection>& records);
bool encode(mcl::binary_t& payload, const std::vector<registry_protection>& records);

// The common reply: 0 bytes fail; `ok` is byte 0; exactly 1 byte fails after `ok` was read; otherwise
// `message` runs from byte 1 to its 0 byte, which must lie inside the reply. `result` holds what was read
// even when the reply fails.
bool decode_result(const mcl::binary_t& reply, request_result& result);
// The version reply: compatible flag, then the service's version; fewer than 5 bytes fail.
bool decode_compatible(const mcl::binary_t& reply, std::uint8_t& compatible, std::uint32_t& version);
// A bare u32 reply; fewer than 4 bytes fail.
bool decode_u32(const mcl::binary_t& reply, std::uint32_t& value);

// The records of one list reply and the elements of the lists inside them, all together, at most: a reply of
// up to 16 MiB could otherwise hold some sixteen million empty names.
constexpr std::uint32_t max_reply_elements = 65536;

// List replies from byte 0: u32 count, then the records. `list` is emptied first and receives each record as
// it is decoded, so after a failure it holds the records decoded before it. Bytes after the last record are
// ignored. A reply with more elements than max_reply_elements fails there.
bool decode_list(const mcl::binary_t& reply, std::vector<protected_service>& list);
bool decode_list(const mcl::binary_t& reply, std::vector<protected_process>& list);
bool decode_list(const mcl::binary_t& reply, std::vector<protected_registry_key>& list);
bool decode_list(const mcl::binary_t& reply, std::vector<protected_folder>& list);
bool decode_list(const mcl::binary_t& reply, std::vector<quarantined_file>& list);
bool decode_list(const mcl::binary_t& reply, std::vector<entry_record>& list);
bool decode_list(const mcl::binary_t& reply, std::vector<std::string>& list);

} // namespace helper_wire
