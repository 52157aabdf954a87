// The copy of the client's installer package that Windows Installer keeps for each installed product.
#pragma once

#include "footprint/installer_product.h"
#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>

namespace ferrolink {

// The cached package as the product's per-machine registration (row 22) names it; empty when none is named.
std::wstring registered_cached_package(const product_codes& codes);

// The same for the product's registration in the user data of `sid` (a user's, or the machine's "S-1-5-18").
std::wstring registered_cached_package(const std::wstring& sid, const product_codes& codes);

// The cached patch package as the patch's registration in the user data of `sid` names it; empty when none is.
std::wstring registered_patch_package(const std::wstring& sid, const std::wstring& packed_patch);

// The product's own folder in the Installer folder of the system's Windows folder ("...\Installer\{code}"), where
// Windows Installer keeps its icons and transforms; empty when the Windows folder cannot be named.
std::wstring product_installer_folder(const product_codes& codes);

// Opens the package at `path` with `access` (plus reading its attributes) when it is a plain file (no link, no
// folder, no second name) directly inside the Installer folder of the system's Windows folder. The folder is
// opened as itself and the file by its name inside that very folder. 0; ERROR_FILE_NOT_FOUND when no such file is
// there; ERROR_BAD_PATHNAME when the path names anything else or anywhere else; or the error of the open.
DWORD open_cached_package(const std::wstring& path, ACCESS_MASK access, mcl::mswin::unique_handle& file);

} // namespace ferrolink
