#include "cleaner/steps/network_driver.h"

#include "cleaner/mechanisms/code_page.h"
#include "footprint/footprint.h"
#include "cleaner/run_log.h"
#include "mcl/mswin/system_library.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>
#include <devguid.h>
#include <setupapi.h>

#include <cstring>
#include <string>
#include <vector>

namespace cleaner {

namespace {

using mcl::mswin::unique_hdevinfo;
using mcl::mswin::unique_hmodule;
using mcl::mswin::unique_local_block;

// The narrow (ANSI) SetupAPI calls for the packages are the ones the step has always made: the client's driver
// markers are narrow texts, matched byte for byte in the source INF name that SetupQueryInfOriginalFileInformationA
// gives in that form. What goes into them is safe: a published name is listed wide and passed only when every
// character converts to itself in the active code page (to_active_code_page), so each call names the very package
// that was listed, never a lookalike. The adapters are listed by class GUID alone, where the A and W forms of
// SetupDiGetClassDevs are the same call, and their hardware ids are read wide.
const DWORD kHardwareIdBytes = 256;
const DWORD kInfListSpare = 256;

// A published INF package: its name as listed, and in the active code page for the narrow calls.
struct inf_candidate {
    std::wstring name;
    std::string narrow_name;
};

// DiUninstallDriverW (newdev.dll, Windows 10 1703 and later).
using uninstall_driver_function = BOOL(WINAPI*)(HWND, LPCWSTR, DWORD, PBOOL);

// How packages leave the driver store on this system: DiUninstallDriverW where Windows has it, else
// SetupUninstallOEMInf.
struct package_remover {
    unique_hmodule newdev;
    uninstall_driver_function uninstall_driver = nullptr;
    std::wstring inf_folder;
};

// Compared ordinally, ignoring case: a linguistic comparison would take an id with an ignorable character
// (a soft hyphen, say) for the client's.
bool is_client_adapter(const wchar_t* first_hardware_id)
{
    for (const char* id : ferrolink::adapter_ids) {
        const std::wstring wide_id(id, id + std::strlen(id));
        if (::CompareStringOrdinal(first_hardware_id, -1, wide_id.c_str(), -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

// The property is a list of strings; only its first one counts. It is read wide, as stored: a narrow read
// would turn characters the code page lacks into lookalikes of the client's ids.
bool first_hardware_id_matches(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    wchar_t hardware_id[kHardwareIdBytes / sizeof(wchar_t)] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, nullptr,
                                             reinterpret_cast<BYTE*>(hardware_id),
                                             kHardwareIdBytes - sizeof(wchar_t), nullptr))
        return false;
    return is_client_adapter(hardware_id);
}

// No class or co-installer may show a window: an unattended run has nobody in session 0 to close it.
bool set_quiet(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    SP_DEVINSTALL_PARAMS_W parameters = {};
    parameters.cbSize = sizeof(parameters);
    if (!::SetupDiGetDeviceInstallParamsW(devices, &device, &parameters))
        return false;
    parameters.Flags |= DI_QUIETINSTALL;
    return ::SetupDiSetDeviceInstallParamsW(devices, &device, &parameters) != FALSE;
}

bool wants_restart(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    SP_DEVINSTALL_PARAMS_W parameters = {};
    parameters.cbSize = sizeof(parameters);
    return ::SetupDiGetDeviceInstallParamsW(devices, &device, &parameters) &&
           (parameters.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
}

// Only through the class installer: SetupDiRemoveDevice would bypass the network class installer and leave
// the adapter's bindings behind. False with the last error of the call that failed.
bool remove_device(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    if (!set_quiet(devices, device) || !::SetupDiCallClassInstaller(DIF_REMOVE, devices, &device))
        return false;
    if (wants_restart(devices, device))
        restart_required = true;
    return true;
}

// Phase 1. False (logged) when the device list is unavailable or a matching adapter could not be removed.
bool remove_adapters()
{
    const unique_hdevinfo devices(::SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, 0));
    if (!devices) {
        log_line("\tSetupDiGetClassDevs failed,LastError:%lu", ::GetLastError());
        return false;
    }
    bool found = false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        if (first_hardware_id_matches(devices.get(), device)) {
            found = true;
            if (!remove_device(devices.get(), device)) {
                log_line("\tCould not remove device by SetupDiRemoveDevice, lastError:%lu", ::GetLastError());
                return false;
            }
        }
        device.cbSize = sizeof(device);
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_ITEMS)
        log_line("\tSetupDiEnumDeviceInfo failed,LastError:%lu", error);
    if (!found)
        log_line("\tCould not find device by SetupDiGetDeviceRegistryPropertyA.");
    return true;
}

// The default INF folder, named explicitly: asking with no folder is what Windows resolves to it, but not
// every SetupAPI implementation lists it then.
bool default_inf_folder(std::wstring& folder)
{
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0)
        return false;
    if (length >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    folder = std::wstring(windows) + L"\\INF";
    return true;
}

// Size query: some implementations answer TRUE with the size, others FALSE with ERROR_INSUFFICIENT_BUFFER.
bool inf_list_size(const wchar_t* folder, DWORD& characters)
{
    characters = 0;
    if (::SetupGetInfFileListW(folder, INF_STYLE_WIN4, nullptr, 0, &characters))
        return true;
    return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && characters != 0;
}

// Names convert to the active code page for the narrow SetupAPI calls; a name that cannot be written
// there exactly could not be passed to them and is left out. Under the UTF-8 code page every name can.
bool to_active_code_page(const wchar_t* name, std::string& narrow)
{
    return to_code_page_exactly(CP_ACP, name, narrow);
}

// Every name in the buffer (the spare zero tail included) that begins with a lower-case "o": the
// published "oem" packages.
std::vector<inf_candidate> candidates_in(const wchar_t* list, DWORD characters)
{
    std::vector<inf_candidate> candidates;
    for (DWORD at = 0; at < characters;) {
        const wchar_t* name = list + at;
        DWORD length = 0;
        while (at + length < characters && name[length] != L'\0')
            ++length;
        std::string narrow;
        if (length != 0 && at + length < characters && name[0] == L'o' && to_active_code_page(name, narrow))
            candidates.push_back({std::wstring(name, length), narrow});
        at += length + 1;
    }
    return candidates;
}

// Phase 2, the list of candidate packages. False (logged) when the list is unavailable.
bool list_candidates(std::vector<inf_candidate>& candidates)
{
    std::wstring folder;
    DWORD characters = 0;
    if (!default_inf_folder(folder) || !inf_list_size(folder.c_str(), characters)) {
        log_line("\tCould not SetupGetInfFileList, lastError:%lu", ::GetLastError());
        return false;
    }
    const DWORD buffer_characters = characters + kInfListSpare;
    const unique_local_block<wchar_t> list(buffer_characters * sizeof(wchar_t));
    if (!list) {
        log_line("\tCould not SetupGetInfFileList, lastError:%lu", ::GetLastError());
        return false;
    }
    if (!::SetupGetInfFileListW(folder.c_str(), INF_STYLE_WIN4, list.get(), buffer_characters, nullptr)) {
        log_line("\tCould not SetupGetInfFileList, lastError:%lu", ::GetLastError());
        return false;
    }
    candidates = candidates_in(list.get(), buffer_characters);
    return true;
}

// The name the package had before it was published; false when it cannot be learnt.
bool source_inf_name(const char* published_name, std::string& source)
{
    DWORD bytes = 0;
    if (!::SetupGetInfInformationA(published_name, INFINFO_DEFAULT_SEARCH, nullptr, 0, &bytes) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    if (bytes == 0)
        return false;
    const unique_local_block<SP_INF_INFORMATION> information(bytes);
    if (!information ||
        !::SetupGetInfInformationA(published_name, INFINFO_DEFAULT_SEARCH, information.get(), bytes, nullptr))
        return false;
    SP_ORIGINAL_FILE_INFO_A original = {};
    original.cbSize = sizeof(original);
    if (!::SetupQueryInfOriginalFileInformationA(information.get(), 0, nullptr, &original))
        return false;
    original.OriginalInfName[MAX_PATH - 1] = '\0';
    source = original.OriginalInfName;
    return !source.empty();
}

// DiUninstallDriverW from the system's own newdev.dll (Windows before 10 1703 lacks it), and the folder of
// the published INF files that it is given.
void load_uninstall_driver(package_remover& remover)
{
    if (!default_inf_folder(remover.inf_folder))
        return;
    // Its own dependencies come from the system folder too.
    remover.newdev = mcl::mswin::load_system_library(L"newdev.dll");
    remover.uninstall_driver =
        mcl::mswin::system_function<uninstall_driver_function>(remover.newdev.get(), "DiUninstallDriverW");
}

// 0 or the error. SetupUninstallOEMInf ignores its force flag for a package that copies its files to the
// driver store itself (DirId 13) and refuses while any device, present or not, uses it; DiUninstallDriverW
// takes the package off such devices first.
DWORD uninstall_package(const package_remover& remover, const inf_candidate& package)
{
    if (remover.uninstall_driver == nullptr)
        return ::SetupUninstallOEMInfA(package.narrow_name.c_str(), SUOI_FORCEDELETE, nullptr) ? 0 : ::GetLastError();
    // Asked for, so that it never shows a restart dialog of its own; a deleted package sets the flag anyway.
    BOOL need_reboot = FALSE;
    const std::wstring path = remover.inf_folder + L"\\" + package.name;
    return remover.uninstall_driver(nullptr, path.c_str(), 0, &need_reboot) ? 0 : ::GetLastError();
}

enum class package_outcome { not_client, deleted, failed };

// Deletes the candidate from the driver store when it is one of the client's packages.
package_outcome delete_if_client_package(const package_remover& remover, const inf_candidate& package)
{
    std::string source;
    if (!source_inf_name(package.narrow_name.c_str(), source) || !ferrolink::has_driver_marker(source.c_str()))
        return package_outcome::not_client;
    const DWORD error = uninstall_package(remover, package);
    if (error != 0) {
        log_line("\tFailed to delete %s from driver store, lastError:%lu", wide_to_utf8(package.name).c_str(), error);
        return package_outcome::failed;
    }
    restart_required = true;
    log_line("\tDelete oem file in driver store");
    return package_outcome::deleted;
}

} // namespace

int remove_driver()
{
    if (!remove_adapters())
        return 0;
    std::vector<inf_candidate> candidates;
    if (!list_candidates(candidates))
        return 0;
    package_remover remover;
    load_uninstall_driver(remover);
    bool deleted = false;
    bool failed = false;
    for (const inf_candidate& candidate : candidates) {
        const package_outcome outcome = delete_if_client_package(remover, candidate);
        deleted |= outcome == package_outcome::deleted;
        failed |= outcome == package_outcome::failed;
    }
    if (!deleted && !failed)
        log_line("\tcan not find file in driver store");
    // A package of the client left in the store is a failure, not a success with a line about it.
    return failed ? 0 : 1;
}

} // namespace cleaner
