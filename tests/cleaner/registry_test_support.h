// Registry and Windows Installer helpers for the tests of the registry cleanup and the installer check.
#pragma once

#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>
#include <vector>

namespace fltest {

using mcl::mswin::unique_hkey;

// The key opened, or an empty owner when it cannot be.
unique_hkey open_key(HKEY root, const std::wstring& path, REGSAM access, DWORD options = 0);
// The names of the key's subkeys; none when it is missing.
std::vector<std::wstring> subkey_names(HKEY root, const std::wstring& path);
bool key_exists(HKEY root, const std::wstring& path);
bool value_exists(HKEY root, const std::wstring& path, const std::wstring& name);
// Creates the key with every key on its way; true when it exists afterwards.
bool create_key(HKEY root, const std::wstring& path);
// Creates the key, and below it `count` subkeys named "0", "1", ...; true when all exist afterwards.
bool create_subkeys(HKEY root, const std::wstring& path, unsigned long count);
bool set_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value);
// Stores `bytes` under `name` with the given type, exactly as given.
bool set_raw(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const void* bytes,
             DWORD size);
// Deletes the key with everything below it; missing is fine.
void delete_tree(HKEY root, const std::wstring& path);

const std::wstring kUserData = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
const std::wstring kComponentsKey = kUserData + L"Components\\";
const std::wstring kUserDataProducts = kUserData + L"Products\\";

// One of the packages in <bin>\msi, with the codes and keys it registers.
struct msi_package {
    const wchar_t* file;
    const wchar_t* product_code;
    const wchar_t* packed_product;
    const wchar_t* packed_upgrade;
    const wchar_t* own_key;  // the HKLM key its component writes
};

extern const msi_package kClientPackage;    // "Orvane Ferrolink", the client's upgrade family
extern const msi_package kCompanionPackage; // unrelated, shares one component with the client
extern const msi_package kByNamePackage;    // "Orvane Ferrolink" with another upgrade code
extern const msi_package kLowerCasePackage; // "orvane ferrolink"
extern const msi_package kPerUserPackage;   // the client's package installed for the running user only

// Packed codes of the client's components: its own one, and the one shared with the companion.
extern const wchar_t kClientComponent[];
extern const wchar_t kSharedComponent[];
// The file component that the client and the companion share, counted in SharedDLLs.
extern const wchar_t kSharedLibraryComponent[];
extern const wchar_t kSharedLibraryFile[];
const std::wstring kSharedDlls = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// The package's cached copy, in whichever user data registers it; empty when none does.
std::wstring cached_package_of(const msi_package& package);

// The SID of the account the test runs as; per-user installations register under it.
std::wstring own_sid();

// Installs a package with msiexec for the life of the object. On destruction it is uninstalled, and whatever
// a test's cleanup left unreachable for msiexec (keys, component values, the cached package) is removed.
class installed_msi {
public:
    explicit installed_msi(const msi_package& package);
    ~installed_msi();
    installed_msi(const installed_msi&) = delete;
    installed_msi& operator=(const installed_msi&) = delete;
    bool installed() const { return installed_; }

private:
    void scrub() const;

    const msi_package& package_;
    bool installed_ = false;
    std::wstring cached_package_;
};

// The system's Windows folder.
std::wstring windows_folder();

// Removes a package's registration wherever it is left (per machine and per user, its own folder in the
// Installer folder, the shared file with its count once nothing uses it); safe when it was never installed.
void scrub_package(const msi_package& package);

} // namespace fltest
