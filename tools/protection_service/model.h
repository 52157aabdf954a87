// What the double protects, and its answers to the requests that protect, unprotect and list: request payloads
// are decoded with the payload readers, list replies carry exactly the records the client decodes. Pure
// logic; used from the peer's event thread only.
#pragma once

#include "helper/iovchelper.h"
#include "hex.h"
#include "script.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace protection_double {

namespace message {
constexpr std::uint32_t client_leaving = 0x1000000;
constexpr std::uint32_t test_message = 0x1000001;
constexpr std::uint32_t services = 0x1000002;
constexpr std::uint32_t processes = 0x1000003;
constexpr std::uint32_t query_services = 0x1000004;
constexpr std::uint32_t query_processes = 0x1000005;
constexpr std::uint32_t proto_compatible = 0x1000009;
constexpr std::uint32_t value_0a = 0x100000A;
constexpr std::uint32_t registry_keys = 0x100000B;
constexpr std::uint32_t query_registry_keys = 0x100000C;
constexpr std::uint32_t query_folders = 0x100000D;
constexpr std::uint32_t quarantined_files = 0x10000CC;
constexpr std::uint32_t quarantine_containers = 0x10000CD;
constexpr std::uint32_t entry_list = 0x10000FB;
} // namespace message

// Texts the double reports for what it protects.
constexpr const char* protected_service_dacl = "D:(A;;GA;;;SY)(A;;GR;;;BA)";
constexpr const char* protected_folder_dacl = "D:P(A;OICI;FA;;;SY)(A;OICI;GRGX;;;BA)";
constexpr const char* original_key_dacl = "D:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
constexpr const char* protected_key_dacl = "D:P(A;CI;KA;;;SY)(A;CI;KR;;;BA)(A;CI;KR;;;BU)";

class model {
public:
    // The binary path the service control manager holds for a service; empty when it is not installed.
    using binary_path_lookup = std::function<std::u16string(const std::string& service_name)>;

    explicit model(binary_path_lookup binary_path_of);

    // The script's initial objects.
    void load(const script& initial);

    // The model's answer to a request: false when it gives none (the one-way messages); otherwise `reply`
    // holds the payload to send back.
    bool answer(std::uint32_t id, const bytes& request, const version_reply& version, bytes& reply);

    const std::vector<protected_service>& services() const { return services_; }
    const std::vector<protected_process>& processes() const { return processes_; }
    const std::vector<protected_registry_key>& registry_keys() const { return keys_; }
    // The reference folders of the protected services and processes, each once, in order.
    std::vector<protected_folder> folders() const;

private:
    bool apply_services(const bytes& request);
    bool apply_processes(const bytes& request);
    bool apply_registry_keys(const bytes& request);
    void protect_service(std::uint8_t service_level, std::uint8_t process_level, const std::string& name,
                         const std::string& sid);

    binary_path_lookup binary_path_of_;
    std::vector<protected_service> services_;
    std::vector<protected_process> processes_;
    std::vector<protected_registry_key> keys_;
};

} // namespace protection_double
