#include "audit/check_support.h"
#include "audit/checks.h"
#include "footprint/footprint.h"
#include "mcl/mswin/unique_resource.h"

#include <devguid.h>
#include <setupapi.h>

#include <cstring>

namespace audit {

namespace {

const char kPart[] = "adapters";
const DWORD kHardwareIdBytes = 256;

// The first string of the device's hardware id list, read wide as stored; empty when it cannot be read.
std::wstring first_hardware_id(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    wchar_t hardware_id[kHardwareIdBytes / sizeof(wchar_t)] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, nullptr,
                                             reinterpret_cast<BYTE*>(hardware_id),
                                             kHardwareIdBytes - sizeof(wchar_t), nullptr))
        return std::wstring();
    return hardware_id;
}

// Compared as the driver removal compares them: ordinally, ignoring case.
bool same_id(const std::wstring& hardware_id, const char* client_id)
{
    const std::wstring wide_id(client_id, client_id + std::strlen(client_id));
    return ::CompareStringOrdinal(hardware_id.c_str(), -1, wide_id.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The first hardware ids of every network-class device, present or not, as the driver removal sees them.
bool network_device_ids(std::vector<std::wstring>& ids, DWORD& error)
{
    const mcl::mswin::unique_hdevinfo devices(::SetupDiGetClassDevsW(&GUID_DEVCLASS_NET, nullptr, nullptr, 0));
    if (!devices) {
        error = ::GetLastError();
        return false;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        ids.push_back(first_hardware_id(devices.get(), device));
        device.cbSize = sizeof(device);
    }
    error = ::GetLastError();
    return error == ERROR_NO_MORE_ITEMS;
}

} // namespace

audit_items check_adapters()
{
    audit_items items;
    std::vector<std::wstring> ids;
    DWORD error = 0;
    const bool listed = network_device_ids(ids, error);
    for (const char* client_id : ferrolink::adapter_ids) {
        const std::string name = std::string("hardware id ") + client_id;
        unsigned count = 0;
        for (const std::wstring& id : ids) {
            if (same_id(id, client_id))
                ++count;
        }
        if (!listed)
            items.push_back(unchecked_item(kPart, name, error));
        else
            items.push_back(count == 0 ? absent_item(kPart, name)
                                       : present_item(kPart, name, std::to_string(count) + " device(s)"));
        items.back().id = std::string("adapter:") + client_id;
    }
    return items;
}

} // namespace audit
