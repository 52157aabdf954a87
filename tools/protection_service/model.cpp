#include "model.h"

#include "mcl/payload.h"

#include <algorithm>

namespace protection_double {

namespace {

mcl::binary_t to_binary(const bytes& data)
{
    return mcl::binary_t(data.data(), static_cast<std::uint32_t>(data.size()));
}

bytes to_bytes(const mcl::binary_t& data)
{
    return bytes(data.begin(), data.end());
}

template <typename Char>
Char fold(Char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename Text>
bool same_ignoring_ascii_case(const Text& a, const Text& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](auto x, auto y) { return fold(x) == fold(y); });
}

// The folder of a path (a leading quote dropped, up to its last backslash, without it); empty without one.
std::u16string folder_of(std::u16string path)
{
    if (!path.empty() && path[0] == u'"') {
        path.erase(0, 1);
        path = path.substr(0, path.find(u'"'));
    }
    const std::size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

bytes ok_reply()
{
    return bytes{1, 0};
}

bytes refusal(const std::string& message)
{
    const std::string text = std::string(1, '\0') + message + std::string(1, '\0');
    return bytes(text.begin(), text.end());
}

bool read_service_protection(const mcl::binary_t& payload, std::uint32_t& cursor, service_protection& out)
{
    return mcl::get_u8(payload, cursor, out.service_level) && mcl::get_u8(payload, cursor, out.process_level) &&
           mcl::get_string(payload, cursor, out.service_name);
}

bool read_process_protection(const mcl::binary_t& payload, std::uint32_t& cursor, process_protection& out)
{
    return mcl::get_u8(payload, cursor, out.protect) && mcl::get_wstring(payload, cursor, out.process_path);
}

bool read_registry_protection(const mcl::binary_t& payload, std::uint32_t& cursor, registry_protection& out)
{
    return mcl::get_u8(payload, cursor, out.protect) && mcl::get_u64(payload, cursor, out.root) &&
           mcl::get_wstring(payload, cursor, out.subkey) && mcl::get_string(payload, cursor, out.owner_service) &&
           mcl::get_string_list(payload, cursor, out.full_access_services) &&
           mcl::get_u32(payload, cursor, out.option);
}

bool write_service(mcl::binary_t& out, const protected_service& record)
{
    return mcl::put_u8(out, record.service_level) && mcl::put_u8(out, record.process_level) &&
           mcl::put_string(out, record.service_dacl) && mcl::put_string(out, record.folder_dacl) &&
           mcl::put_string(out, record.service_name) && mcl::put_string(out, record.service_sid) &&
           mcl::put_wstring(out, record.binary_path) && mcl::put_wstring(out, record.reference_folder);
}

bool write_process(mcl::binary_t& out, const protected_process& record)
{
    return mcl::put_u8(out, record.process_level) && mcl::put_string(out, record.folder_dacl) &&
           mcl::put_wstring(out, record.image_path) && mcl::put_wstring(out, record.reference_folder);
}

bool write_registry_key(mcl::binary_t& out, const protected_registry_key& record)
{
    return mcl::put_u8(out, record.key_level) && mcl::put_string(out, record.original_dacl) &&
           mcl::put_string(out, record.current_dacl) && mcl::put_u64(out, record.root) &&
           mcl::put_wstring(out, record.subkey) && mcl::put_string(out, record.owner_service) &&
           mcl::put_string_list(out, record.full_access_services);
}

bool write_folder(mcl::binary_t& out, const protected_folder& record)
{
    return mcl::put_u8(out, record.folder_level) && mcl::put_string(out, record.folder_dacl) &&
           mcl::put_wstring(out, record.folder_path);
}

template <typename Record, typename Writer>
bytes list_reply(const std::vector<Record>& records, Writer write)
{
    mcl::binary_t out;
    mcl::put_list(out, records, write);
    return to_bytes(out);
}

template <typename Record, typename Reader>
bool read_records(const bytes& request, std::vector<Record>& records, Reader read)
{
    const mcl::binary_t payload = to_binary(request);
    std::uint32_t cursor = 0;
    return mcl::get_list(payload, cursor, records, read);
}

} // namespace

model::model(binary_path_lookup binary_path_of) : binary_path_of_(std::move(binary_path_of)) {}

void model::load(const script& initial)
{
    for (const initial_service& service : initial.services)
        protect_service(1, 1, service.name, service.sid);
    for (const initial_key& key : initial.keys) {
        registry_protection record;
        record.protect = 1;
        record.root = key.root;
        record.subkey = key.subkey;
        mcl::binary_t request;
        mcl::put_u32(request, 1);
        mcl::put_u8(request, record.protect);
        mcl::put_u64(request, record.root);
        mcl::put_wstring(request, record.subkey);
        mcl::put_string(request, record.owner_service);
        mcl::put_string_list(request, record.full_access_services);
        mcl::put_u32(request, record.option);
        apply_registry_keys(to_bytes(request));
    }
}

void model::protect_service(std::uint8_t service_level, std::uint8_t process_level, const std::string& name,
                            const std::string& sid)
{
    const auto found = std::find_if(services_.begin(), services_.end(), [&](const protected_service& each) {
        return same_ignoring_ascii_case(each.service_name, name);
    });
    const bool known = found != services_.end();
    protected_service& record = known ? *found : services_.emplace_back();
    if (!known)
        record.service_sid = sid;
    record.service_level = service_level;
    record.process_level = process_level;
    record.service_dacl = protected_service_dacl;
    record.folder_dacl = protected_folder_dacl;
    record.service_name = name;
    record.binary_path = binary_path_of_ ? binary_path_of_(name) : std::u16string();
    record.reference_folder = folder_of(record.binary_path);
}

bool model::apply_services(const bytes& request)
{
    std::vector<service_protection> records;
    if (!read_records(request, records, read_service_protection))
        return false;
    for (const service_protection& record : records) {
        if (record.service_level != 0 || record.process_level != 0) {
            protect_service(record.service_level, record.process_level, record.service_name, default_service_sid);
            continue;
        }
        services_.erase(std::remove_if(services_.begin(), services_.end(),
                                       [&](const protected_service& each) {
                                           return same_ignoring_ascii_case(each.service_name, record.service_name);
                                       }),
                        services_.end());
    }
    return true;
}

bool model::apply_processes(const bytes& request)
{
    std::vector<process_protection> records;
    if (!read_records(request, records, read_process_protection))
        return false;
    for (const process_protection& record : records) {
        const auto same = [&](const protected_process& each) {
            return same_ignoring_ascii_case(each.image_path, record.process_path);
        };
        processes_.erase(std::remove_if(processes_.begin(), processes_.end(), same), processes_.end());
        if (record.protect == 0)
            continue;
        protected_process& added = processes_.emplace_back();
        added.process_level = record.protect;
        added.folder_dacl = protected_folder_dacl;
        added.image_path = record.process_path;
        added.reference_folder = folder_of(record.process_path);
    }
    return true;
}

bool model::apply_registry_keys(const bytes& request)
{
    std::vector<registry_protection> records;
    if (!read_records(request, records, read_registry_protection))
        return false;
    for (const registry_protection& record : records) {
        const auto same = [&](const protected_registry_key& each) {
            return each.root == record.root && same_ignoring_ascii_case(each.subkey, record.subkey);
        };
        const auto found = std::find_if(keys_.begin(), keys_.end(), same);
        if (record.protect == 0) {
            if (found != keys_.end())
                keys_.erase(found);
            continue;
        }
        protected_registry_key& key = found != keys_.end() ? *found : keys_.emplace_back();
        key.key_level = record.protect;
        key.original_dacl = original_key_dacl;
        key.current_dacl = protected_key_dacl;
        key.root = record.root;
        key.subkey = record.subkey;
        key.owner_service = record.owner_service;
        key.full_access_services = record.full_access_services;
    }
    return true;
}

std::vector<protected_folder> model::folders() const
{
    std::vector<protected_folder> folders;
    const auto add = [&](const std::u16string& path) {
        const bool known = std::any_of(folders.begin(), folders.end(), [&](const protected_folder& each) {
            return same_ignoring_ascii_case(each.folder_path, path);
        });
        if (path.empty() || known)
            return;
        protected_folder& folder = folders.emplace_back();
        folder.folder_level = 1;
        folder.folder_dacl = protected_folder_dacl;
        folder.folder_path = path;
    };
    for (const protected_service& service : services_)
        add(service.reference_folder);
    for (const protected_process& process : processes_)
        add(process.reference_folder);
    return folders;
}

bool model::answer(std::uint32_t id, const bytes& request, const version_reply& version, bytes& reply)
{
    const char* const malformed = "The request could not be decoded.";
    switch (id) {
    case message::client_leaving:
    case message::test_message:
        return false;
    case message::services:
        reply = apply_services(request) ? ok_reply() : refusal(malformed);
        return true;
    case message::processes:
        reply = apply_processes(request) ? ok_reply() : refusal(malformed);
        return true;
    case message::registry_keys:
        reply = apply_registry_keys(request) ? ok_reply() : refusal(malformed);
        return true;
    case message::query_services:
        reply = list_reply(services_, write_service);
        return true;
    case message::query_processes:
        reply = list_reply(processes_, write_process);
        return true;
    case message::query_registry_keys:
        reply = list_reply(keys_, write_registry_key);
        return true;
    case message::query_folders:
        reply = list_reply(folders(), write_folder);
        return true;
    case message::proto_compatible: {
        mcl::binary_t out;
        mcl::put_u8(out, version.compatible);
        mcl::put_u32(out, version.version);
        reply = to_bytes(out);
        return true;
    }
    case message::value_0a:
    case message::quarantined_files:
    case message::quarantine_containers:
    case message::entry_list:
        reply = bytes(4, 0);
        return true;
    default:
        reply = ok_reply();
        return true;
    }
}

} // namespace protection_double
