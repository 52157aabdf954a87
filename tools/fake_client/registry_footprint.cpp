#include "registry_footprint.h"

#include "audit/checks.h"
#include "commands.h"
#include "common.h"
#include "install_folder.h"
#include "mcl/mswin/unique_resource.h"
#include "mcl/mswin/utf.h"

#include <msi.h>

#include <cstdio>

namespace fake_client {

const char registry_usage[] =
    "  registry [make] | remove | status   (the client's keys and its Windows Installer package)\n";

namespace {

using mcl::mswin::unique_hkey;

struct key_value {
    HKEY root;
    const wchar_t* path;
    const wchar_t* name;  // empty: the default value
    const wchar_t* data;
};

const wchar_t kProductKey[] = L"Software\\Orvane\\SSL-VPN Ferrolink";
const wchar_t kProductKey32[] = L"Software\\Wow6432Node\\Orvane\\SSL-VPN Ferrolink";
const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunKey32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kGuiCommand[] = L"\"C:\\Program Files (x86)\\Orvane\\SSL-VPN\\Ferrolink\\FLGui.exe\" /tray";
const wchar_t kIdleCommand[] = L"\"C:\\Program Files (x86)\\Orvane\\SSL-VPN\\Ferrolink\\FLIdle.exe\"";

// What the client writes; the keys of the cleaner's first twelve rows, each with something in it.
const key_value kClientValues[] = {
    {HKEY_LOCAL_MACHINE, L"Software\\Orvane\\SSL-VPN Ferrolink", L"Version", L"2.5.0"},
    {HKEY_LOCAL_MACHINE, L"Software\\Orvane\\SSL-VPN Ferrolink\\Standalone\\Profiles\\Head Office", L"Gateway",
     L"vpn.orvane.example"},
    {HKEY_LOCAL_MACHINE, L"Software\\Orvane\\SSL-VPN Ferrolink\\Standalone\\Profiles\\Branch", L"Gateway",
     L"branch.orvane.example"},
    {HKEY_LOCAL_MACHINE, L"Software\\Orvane\\SSL-VPN Ferrolink\\Standalone\\Session", L"LastUser", L"alice"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFerrolink", L"",
     L"FLGui.exe /tray"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFLIdle", L"", L"FLIdle.exe"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvane Ferrolink", L"",
     L"Ferrolink.exe"},
    {HKEY_CURRENT_USER, L"Software\\Orvane\\SSL-VPN Ferrolink", L"Language", L"en"},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Ferrolink",
     L"DisplayName", L"Orvane Ferrolink"},
    {HKEY_LOCAL_MACHINE,
     L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Ferrolink", L"DisplayName",
     L"Orvane Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFerrolink", L"",
     L"FLGui.exe /tray"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFLIdle", L"",
     L"FLIdle.exe"},
    {HKEY_LOCAL_MACHINE,
     L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvane Ferrolink", L"",
     L"Ferrolink.exe"},
    {HKEY_LOCAL_MACHINE,
     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers\\"
     L"{6A2D8E51-C0B7-4F39-8E24-91D7B3F0C6AE}",
     L"", L"Ferrolink Credential Provider"},
    {HKEY_CLASSES_ROOT, L"CLSID\\{6A2D8E51-C0B7-4F39-8E24-91D7B3F0C6AE}\\InprocServer32", L"", L"FLCredProv.dll"},
    // The autostart entries proper (values of the Run keys), and the 32-bit view of the product key.
    {HKEY_LOCAL_MACHINE, kRunKey, L"OrvaneFerrolink", kGuiCommand},
    {HKEY_LOCAL_MACHINE, kRunKey, L"OrvaneFLIdle", kIdleCommand},
    {HKEY_LOCAL_MACHINE, kRunKey32, L"OrvaneFerrolink", kGuiCommand},
    {HKEY_LOCAL_MACHINE, kRunKey32, L"OrvaneFLIdle", kIdleCommand},
    {HKEY_LOCAL_MACHINE, kProductKey32, L"Version", L"2.5.0"},
    {HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Orvane\\SSL-VPN Ferrolink\\Standalone\\Profiles\\Head Office",
     L"Gateway", L"vpn.orvane.example"},
    {HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Orvane\\SSL-VPN Ferrolink\\Standalone\\Session", L"LastUser",
     L"alice"},
};

} // namespace

const registry_key client_registry_keys[12] = {
    {HKEY_LOCAL_MACHINE, kProductKey},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFerrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFLIdle"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvane Ferrolink"},
    {HKEY_CURRENT_USER, L"Software\\Orvane\\SSL-VPN Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFerrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\OrvaneFLIdle"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvane Ferrolink"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers\\"
                         L"{6A2D8E51-C0B7-4F39-8E24-91D7B3F0C6AE}"},
    {HKEY_CLASSES_ROOT, L"CLSID\\{6A2D8E51-C0B7-4F39-8E24-91D7B3F0C6AE}"},
};

namespace {

// The client's package and where Windows Installer registers it.
const wchar_t kProductCode[] = L"{5C2E8A14-7B3D-4F60-9A1E-2D4C6B8F0A31}";
const wchar_t kPackedProduct[] = L"41A8E2C5D3B706F4A9E1D2C4B6F8A013";
const wchar_t kPackedUpgrade[] = L"74C19A3B56E2F8D4C9A1F7402D6E8A35";
const wchar_t kComponents[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";
const wchar_t* const kPackageComponents[] = {L"A2F1B6E0D4C3F5E4A8B9C1D2E3F4A5B6",
                                             L"D0C9B8A7F2E1B3A4C9D4E5F6A7B8C9D0"};
// The package's shared file, counted in SharedDLLs.
const wchar_t kSharedLibraryComponent[] = L"19F7D5B34C2AF6E4B8D0F2A4C6E8B0D1";
const wchar_t kSharedLibraryFolder[] = L"C:\\Program Files\\Orvane Shared";
const wchar_t kSharedLibraryFile[] = L"C:\\Program Files\\Orvane Shared\\FlShared.dll";
const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";


DWORD write_value(const key_value& entry)
{
    unique_hkey key;
    LSTATUS status =
        ::RegCreateKeyExW(entry.root, entry.path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    const std::wstring data = entry.data;
    status = ::RegSetValueExW(key.get(), entry.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    return static_cast<DWORD>(status);
}

bool key_exists(HKEY root, const std::wstring& path)
{
    unique_hkey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring package_path()
{
    return program_folder() + L"\\msi\\ferrolink_client.msi";
}

int report(const char* what, DWORD error)
{
    if (error == 0)
        return 0;
    std::printf("%s failed, error %lu\n", what, error);
    return 1;
}

} // namespace

DWORD write_client_keys()
{
    for (const key_value& entry : kClientValues) {
        const DWORD error = write_value(entry);
        if (error != 0)
            return error;
    }
    return register_install_dir(default_install_folder());
}

DWORD delete_client_keys()
{
    for (const registry_key& key : client_registry_keys) {
        const LSTATUS status = ::RegDeleteTreeW(key.root, key.path);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return static_cast<DWORD>(status);
        ::RegDeleteKeyW(key.root, key.path);
    }
    for (const wchar_t* run_key : {kRunKey, kRunKey32}) {
        unique_hkey run;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, run_key, 0, KEY_SET_VALUE, run.put()) != ERROR_SUCCESS)
            continue;
        ::RegDeleteValueW(run.get(), L"OrvaneFerrolink");
        ::RegDeleteValueW(run.get(), L"OrvaneFLIdle");
    }
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey32);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKey32);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Orvane");
    // The package's shared component writes here; the value stays while any product still uses the component.
    if (!key_exists(HKEY_LOCAL_MACHINE, std::wstring(kComponents) + kPackageComponents[1]))
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Orvane\\Shared Runtime");
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Orvane\\Shared Runtime");
    // What a cleaned package leaves where msiexec can no longer reach it: the shared file with its count (once no
    // product uses it) and the product's own folder in the Installer folder.
    if (!key_exists(HKEY_LOCAL_MACHINE, std::wstring(kComponents) + kSharedLibraryComponent)) {
        unique_hkey counts;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE, counts.put()) == ERROR_SUCCESS)
            ::RegDeleteValueW(counts.get(), kSharedLibraryFile);
        remove_install_tree(kSharedLibraryFolder);
    }
    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    remove_install_tree(std::wstring(windows) + L"\\Installer\\" + kProductCode);
    // The maker's key goes with the last of its products.
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Orvane");
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Orvane");
    return 0;
}

DWORD install_client_package()
{
    ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    return ::MsiInstallProductW(package_path().c_str(), L"");
}

DWORD uninstall_client_package()
{
    ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    const UINT result = ::MsiConfigureProductW(kProductCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    if (result != ERROR_SUCCESS && result != ERROR_UNKNOWN_PRODUCT)
        return result;
    // What a registration removed by hand leaves in the upgrade code index.
    const std::wstring index =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\" + std::wstring(kPackedUpgrade);
    unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, index.c_str(), 0, KEY_SET_VALUE | KEY_QUERY_VALUE, key.put()) != 0)
        return 0;
    ::RegDeleteValueW(key.get(), kPackedProduct);
    DWORD values = 1;
    ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
    key.reset();
    if (values == 0)
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, index.c_str());
    return 0;
}

int registry_command(const std::vector<std::wstring>& args)
{
    const std::wstring action = args.empty() ? L"make" : args[0];
    if (action == L"status") {
        audit::audit_items items = audit::check_client_keys();
        for (audit::audit_items more : {audit::check_installer_registration(), audit::check_registered_products()})
            items.insert(items.end(), more.begin(), more.end());
        return print_audit_items(items);
    }
    if (action == L"remove") {
        const int result = report("uninstalling the client's package", uninstall_client_package());
        return report("deleting the client's keys", delete_client_keys()) | result;
    }
    if (action != L"make")
        return 2;
    if (report("writing the client's keys", write_client_keys()) != 0 ||
        report("installing the client's package", install_client_package()) != 0)
        return 1;
    std::printf("client registry keys written, package %s installed\n", mcl::mswin::wide_to_utf8(package_path()).c_str());
    return 0;
}

} // namespace fake_client
