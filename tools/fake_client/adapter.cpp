#include "adapter.h"

#include "mcl/mswin/unique_resource.h"

#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

namespace fake_client {

const char* const client_adapter_ids[3] = {"orvanefldrv", "sslvpnferrolinkssldrv", "QuellmarkSSLDrv"};

namespace {

using mcl::mswin::unique_hdevinfo;

std::string multi_string(const std::vector<std::string>& strings)
{
    std::string joined;
    for (const std::string& text : strings)
        joined.append(text).push_back('\0');
    joined.push_back('\0');
    return joined;
}

std::vector<std::string> hardware_ids_of(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    char buffer[4096] = {};
    std::vector<std::string> ids;
    if (!::SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, nullptr,
                                             reinterpret_cast<BYTE*>(buffer), sizeof(buffer) - 2, nullptr))
        return ids;
    for (const char* id = buffer; *id != '\0'; id += ids.back().size() + 1)
        ids.emplace_back(id);
    return ids;
}

std::string instance_id_of(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    char id[MAX_DEVICE_ID_LEN] = {};
    if (!::SetupDiGetDeviceInstanceIdA(devices, &device, id, MAX_DEVICE_ID_LEN, nullptr))
        return std::string();
    return id;
}

bool carries_one_of(const std::vector<std::string>& ids, const std::vector<std::string>& wanted)
{
    for (const std::string& id : ids) {
        for (const std::string& one : wanted) {
            if (::lstrcmpiA(id.c_str(), one.c_str()) == 0)
                return true;
        }
    }
    return false;
}

// Calls `visit` for every network-class device carrying one of the ids; stops when it returns an error.
template <typename Visit>
DWORD for_each_adapter(const std::vector<std::string>& hardware_ids, Visit visit)
{
    const unique_hdevinfo devices(::SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, 0));
    if (!devices)
        return ::GetLastError();
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        const std::vector<std::string> ids = hardware_ids_of(devices.get(), device);
        if (carries_one_of(ids, hardware_ids)) {
            const DWORD error = visit(devices.get(), device, ids);
            if (error != 0)
                return error;
        }
        device.cbSize = sizeof(device);
    }
    return 0;
}

} // namespace

DWORD add_adapter(const std::vector<std::string>& hardware_ids, std::string* instance_id)
{
    const unique_hdevinfo devices(::SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_NET, nullptr));
    if (!devices)
        return ::GetLastError();
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    // The class name is passed, not looked up from the GUID: a fresh Windows image may not know it yet.
    if (!::SetupDiCreateDeviceInfoA(devices.get(), "NET", &GUID_DEVCLASS_NET, nullptr, nullptr, DICD_GENERATE_ID,
                                    &device))
        return ::GetLastError();
    const std::string ids = multi_string(hardware_ids);
    if (!::SetupDiSetDeviceRegistryPropertyA(devices.get(), &device, SPDRP_HARDWAREID,
                                             reinterpret_cast<const BYTE*>(ids.data()),
                                             static_cast<DWORD>(ids.size())) ||
        !::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, devices.get(), &device))
        return ::GetLastError();
    if (instance_id != nullptr)
        *instance_id = instance_id_of(devices.get(), device);
    return 0;
}

std::vector<adapter> find_adapters(const std::vector<std::string>& hardware_ids)
{
    std::vector<adapter> found;
    for_each_adapter(hardware_ids, [&](HDEVINFO devices, SP_DEVINFO_DATA& device, const std::vector<std::string>& ids) {
        found.push_back({instance_id_of(devices, device), ids});
        return DWORD(0);
    });
    return found;
}

DWORD remove_adapters(const std::vector<std::string>& hardware_ids)
{
    return for_each_adapter(hardware_ids, [](HDEVINFO devices, SP_DEVINFO_DATA& device, const std::vector<std::string>&) {
        return ::SetupDiRemoveDevice(devices, &device) ? DWORD(0) : ::GetLastError();
    });
}

std::vector<std::string> client_adapter_id_list()
{
    return std::vector<std::string>(std::begin(client_adapter_ids), std::end(client_adapter_ids));
}

} // namespace fake_client
