// The client's virtual network adapter: network-class devices with the client's hardware ids.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fake_client {

// The client's adapter hardware ids.
extern const char* const client_adapter_ids[3];

struct adapter {
    std::string instance_id;
    std::vector<std::string> hardware_ids;
};

// Registers a network-class device whose hardware id list is `hardware_ids`, in that order.
// 0 or the error code; the new device's instance id in `instance_id`.
DWORD add_adapter(const std::vector<std::string>& hardware_ids, std::string* instance_id = nullptr);

// Network-class devices that carry one of `hardware_ids` (ignoring case) anywhere in their list.
std::vector<adapter> find_adapters(const std::vector<std::string>& hardware_ids);

// Removes what find_adapters finds. 0 or the error of the first removal that failed.
DWORD remove_adapters(const std::vector<std::string>& hardware_ids);

// The client's ids, as a list for the calls above.
std::vector<std::string> client_adapter_id_list();

} // namespace fake_client
