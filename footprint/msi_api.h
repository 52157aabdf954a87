// Windows Installer's functions, bound at run time from the system's own msi.dll (see mcl/mswin/system_library.h).
// Each has the signature and results of the msi.dll function it is named after; when msi.dll or the function
// cannot be found it returns ERROR_INSTALL_SERVICE_FAILURE and changes nothing.
#pragma once

#include <windows.h>

namespace ferrolink::msi {

// MsiEnumRelatedProductsW.
UINT enum_related_products(const wchar_t* upgrade_code, DWORD index, wchar_t product_code[39]);

// MsiEnumProductsExW over every product of `contexts` (MSIINSTALLCONTEXT_* flags) of the users `user_sid` names;
// `sid` receives the product's user (empty for the machine), `sid_units` its size in and its length out.
UINT enum_products_ex(const wchar_t* user_sid, DWORD contexts, DWORD index, wchar_t product_code[39], wchar_t* sid,
                      DWORD* sid_units);

} // namespace ferrolink::msi
