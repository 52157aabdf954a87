#include "registry_test_support.h"

#include "test_support.h"

#include <sddl.h>

namespace fltest {

const msi_package kClientPackage = {L"ferrolink_client.msi", L"{5C2E8A14-7B3D-4F60-9A1E-2D4C6B8F0A31}",
                                    L"41A8E2C5D3B706F4A9E1D2C4B6F8A013", L"74C19A3B56E2F8D4C9A1F7402D6E8A35",
                                    L"Software\\Orvane\\SSL-VPN Ferrolink"};
const msi_package kCompanionPackage = {L"companion.msi", L"{C41D7E92-5A08-4B63-8F2E-6D19A0B7C354}",
                                       L"29E7D14C80A536B4F8E2D6910A7B3C45", L"1D6A3F8E7B42E9C40AF5B3178C2D9E64",
                                       L"Software\\Orvane\\Shared Runtime"};
const msi_package kByNamePackage = {L"ferrolink_by_name.msi", L"{9B7E3C51-6D24-4A8F-B1E0-7C5D2F9A3E68}",
                                    L"15C3E7B942D6F8A41B0EC7D5F2A9E386", L"42A9C6F1B3E875D4A9206C4E8B1D7F53",
                                    L"Software\\Orvane\\Ferrolink Legacy"};
const msi_package kLowerCasePackage = {L"ferrolink_lower_case.msi", L"{3E8A1D67-B49C-4F20-8D75-E1C6A3B09F42}",
                                       L"76D1A8E3C94B02F4D8571E6C3A0BF924", L"F8B2D0A6713C59E44B6AF9E2D7C1B538",
                                       L"Software\\Orvane\\ferrolink lower case"};

const msi_package kPerUserPackage = {L"ferrolink_per_user.msi", kClientPackage.product_code,
                                     kClientPackage.packed_product, kClientPackage.packed_upgrade,
                                     L"Software\\Orvane\\SSL-VPN Ferrolink"};

const wchar_t kClientComponent[] = L"A2F1B6E0D4C3F5E4A8B9C1D2E3F4A5B6";
const wchar_t kSharedComponent[] = L"D0C9B8A7F2E1B3A4C9D4E5F6A7B8C9D0";
const wchar_t kSharedLibraryComponent[] = L"19F7D5B34C2AF6E4B8D0F2A4C6E8B0D1";
const wchar_t kSharedLibraryFile[] = L"C:\\Program Files\\Orvane Shared\\FlShared.dll";

namespace {

unique_hkey create(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    const LONG status = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return unique_hkey(status == ERROR_SUCCESS ? key : nullptr);
}

// Deletes the value, and the key once it holds nothing else.
void delete_value_and_empty_key(HKEY root, const std::wstring& path, const std::wstring& name)
{
    unique_hkey key = open_key(root, path, KEY_ALL_ACCESS);
    if (!key)
        return;
    ::RegDeleteValueW(key.get(), name.c_str());
    DWORD subkeys = 1;
    DWORD values = 1;
    ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
    key.reset();
    if (subkeys == 0 && values == 0)
        ::RegDeleteKeyW(root, path.c_str());
}

std::wstring read_string(HKEY root, const std::wstring& path, const wchar_t* name)
{
    wchar_t text[1024] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return std::wstring();
    return text;
}

const std::wstring kAllUserData = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\";

} // namespace

std::wstring cached_package_of(const msi_package& package)
{
    for (const std::wstring& sid : subkey_names(HKEY_LOCAL_MACHINE, kAllUserData)) {
        const std::wstring path = read_string(HKEY_LOCAL_MACHINE, kAllUserData + sid + L"\\Products\\" +
                                                  package.packed_product + L"\\InstallProperties",
                                              L"LocalPackage");
        if (!path.empty())
            return path;
    }
    return std::wstring();
}


std::wstring own_sid()
{
    HANDLE token = nullptr;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    wchar_t* text = nullptr;
    const bool read = ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) &&
                      ::GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
                      ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    if (token != nullptr)
        ::CloseHandle(token);
    const std::wstring sid = read ? text : L"";
    ::LocalFree(text);
    return sid;
}

unique_hkey open_key(HKEY root, const std::wstring& path, REGSAM access, DWORD options)
{
    HKEY key = nullptr;
    const LONG status = ::RegOpenKeyExW(root, path.c_str(), options, access, &key);
    return unique_hkey(status == ERROR_SUCCESS ? key : nullptr);
}

std::vector<std::wstring> subkey_names(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    const unique_hkey key = open_key(root, path, KEY_READ);
    wchar_t name[256];
    DWORD length = 256;
    for (DWORD index = 0; key && ::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr,
                                                 nullptr) == ERROR_SUCCESS;
         ++index, length = 256)
        names.push_back(name);
    return names;
}

bool key_exists(HKEY root, const std::wstring& path)
{
    return static_cast<bool>(open_key(root, path, KEY_READ));
}

bool value_exists(HKEY root, const std::wstring& path, const std::wstring& name)
{
    const unique_hkey key = open_key(root, path, KEY_READ);
    return key && ::RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool create_key(HKEY root, const std::wstring& path)
{
    return static_cast<bool>(create(root, path));
}

bool create_subkeys(HKEY root, const std::wstring& path, unsigned long count)
{
    const unique_hkey key = create(root, path);
    for (unsigned long i = 0; key && i < count; ++i) {
        unique_hkey subkey;
        if (::RegCreateKeyExW(key.get(), std::to_wstring(i).c_str(), 0, nullptr, 0, KEY_READ, nullptr, subkey.put(),
                              nullptr) != ERROR_SUCCESS)
            return false;
    }
    return static_cast<bool>(key);
}

bool set_raw(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const void* bytes,
             DWORD size)
{
    const unique_hkey key = create(root, path);
    return key && ::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(bytes), size) ==
                      ERROR_SUCCESS;
}

bool set_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value)
{
    return set_raw(root, path, name, REG_SZ, value.c_str(),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void delete_tree(HKEY root, const std::wstring& path)
{
    ::RegDeleteTreeW(root, path.c_str());
    ::RegDeleteKeyW(root, path.c_str());
}

void scrub_package(const msi_package& package)
{
    const std::wstring code = package.product_code;
    const std::wstring packed = package.packed_product;
    const std::wstring upgrade = package.packed_upgrade;
    delete_tree(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code);
    delete_tree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Features\\" + packed);
    delete_tree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Products\\" + packed);
    delete_value_and_empty_key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\" + upgrade, packed);
    delete_value_and_empty_key(HKEY_LOCAL_MACHINE,
                               L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\" + upgrade,
                               packed);
    for (const wchar_t* kind : {L"Products\\", L"Features\\"})
        delete_tree(HKEY_CURRENT_USER, L"Software\\Microsoft\\Installer\\" + std::wstring(kind) + packed);
    delete_value_and_empty_key(HKEY_CURRENT_USER, L"Software\\Microsoft\\Installer\\UpgradeCodes\\" + upgrade, packed);
    for (const std::wstring& sid : subkey_names(HKEY_LOCAL_MACHINE, kAllUserData)) {
        delete_tree(HKEY_LOCAL_MACHINE, kAllUserData + sid + L"\\Products\\" + packed);
        const std::wstring components = kAllUserData + sid + L"\\Components\\";
        for (const std::wstring& component : subkey_names(HKEY_LOCAL_MACHINE, components))
            delete_value_and_empty_key(HKEY_LOCAL_MACHINE, components + component, packed);
    }
    remove_tree(windows_folder() + L"\\Installer\\" + code);
    // The shared file and its count go with the last package that uses them.
    if (!key_exists(HKEY_LOCAL_MACHINE, kComponentsKey + kSharedLibraryComponent)) {
        delete_value_and_empty_key(HKEY_LOCAL_MACHINE, kSharedDlls, kSharedLibraryFile);
        remove_tree(L"C:\\Program Files\\Orvane Shared");
    }
}

std::wstring windows_folder()
{
    wchar_t folder[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

installed_msi::installed_msi(const msi_package& package) : package_(package)
{
    const std::wstring path = bin_path(L"msi\\") + package.file;
    const process_output result = run_process(L"msiexec /i \"" + path + L"\" /qn");
    installed_ = result.exit_code == 0;
    cached_package_ = cached_package_of(package);
}

installed_msi::~installed_msi()
{
    run_process(std::wstring(L"msiexec /x ") + package_.product_code + L" /qn");
    scrub();
}

void installed_msi::scrub() const
{
    scrub_package(package_);
    delete_tree(HKEY_LOCAL_MACHINE, package_.own_key);
    delete_tree(HKEY_CURRENT_USER, package_.own_key);
    // The maker's key goes too once nothing of ours is left in it.
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Orvane");
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Orvane");
    if (!cached_package_.empty())
        ::DeleteFileW(cached_package_.c_str());
}

} // namespace fltest
