// The client's registry data (its own keys) and its Windows Installer package, as the client leaves them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fake_client {

struct registry_key {
    HKEY root;
    const wchar_t* path;
};

// The client's own keys as the cleaner's first twelve rows name them, in its order.
extern const registry_key client_registry_keys[12];

// Writes the client's own keys: the product key with InstallDir and saved profiles (and its 32-bit view with a
// profile), autorun keys and Run values and application path keys (both views), uninstall entries, the
// credential provider and its class. 0 or the error code.
DWORD write_client_keys();
// Deletes them again. 0 also when they are missing.
DWORD delete_client_keys();

// Installs / uninstalls the client's package (msi\ferrolink_client.msi next to this program). 0 or the error.
DWORD install_client_package();
DWORD uninstall_client_package();

int registry_command(const std::vector<std::wstring>& args);
extern const char registry_usage[];

} // namespace fake_client
