#include "footprint/msi_api.h"

#include "mcl/mswin/system_library.h"

#include <msi.h>

namespace ferrolink::msi {

namespace {

// Loaded once, on first use, and kept for the process: Windows Installer's functions are called in loops.
struct msi_library {
    mcl::mswin::unique_hmodule module = mcl::mswin::load_system_library(L"msi.dll");
    decltype(&::MsiEnumRelatedProductsW) enum_related_products =
        mcl::mswin::system_function<decltype(&::MsiEnumRelatedProductsW)>(module.get(), "MsiEnumRelatedProductsW");
    decltype(&::MsiEnumProductsExW) enum_products_ex =
        mcl::mswin::system_function<decltype(&::MsiEnumProductsExW)>(module.get(), "MsiEnumProductsExW");
};

const msi_library& library()
{
    static const msi_library loaded;
    return loaded;
}

} // namespace

UINT enum_related_products(const wchar_t* upgrade_code, DWORD index, wchar_t product_code[39])
{
    const auto call = library().enum_related_products;
    if (call == nullptr)
        return ERROR_INSTALL_SERVICE_FAILURE;
    return call(upgrade_code, 0, index, product_code);
}

UINT enum_products_ex(const wchar_t* user_sid, DWORD contexts, DWORD index, wchar_t product_code[39], wchar_t* sid,
                      DWORD* sid_units)
{
    const auto call = library().enum_products_ex;
    if (call == nullptr)
        return ERROR_INSTALL_SERVICE_FAILURE;
    MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_NONE;
    return call(nullptr, user_sid, contexts, index, product_code, &context, sid, sid_units);
}

} // namespace ferrolink::msi
