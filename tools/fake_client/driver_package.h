// The client's driver packages in the driver store.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fake_client {

// The default INF folder (%windir%\INF), where published packages lie.
std::wstring inf_folder();

// Writes a network-adapter INF named `inf_name` into `folder` (with a CatalogFile line and a catalog
// beside it when `catalog` is set) and publishes it with SetupCopyOEMInf. 0 or the error code; the name it
// was published under (a file name in the INF folder) in `published_name`.
DWORD publish_driver(const std::wstring& folder, const std::string& inf_name, bool catalog,
                     std::string* published_name = nullptr);

// Writes the same INF straight into the INF folder under `inf_name`, without publishing it: a file that
// Windows itself would not have put there (such as a name beginning with a capital "O").
DWORD place_inf(const std::string& inf_name);

// The INF files in the INF folder that this tool wrote (published or placed).
std::vector<std::string> footprint_infs();

// Removes one INF from the INF folder through the driver store (and its precompiled .pnf).
DWORD unpublish_driver(const std::string& published_name);

// Removes every INF footprint_infs lists. 0 or the first error.
DWORD remove_footprint_infs();

// Whether the INF folder holds a file of that name.
bool inf_exists(const std::string& name);

} // namespace fake_client
