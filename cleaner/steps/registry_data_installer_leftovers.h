// Step 6: what Windows Installer keeps of a product beside its registration keys: its patches, its cached
// package, its own folder in the Installer folder and the folders it recorded as created. All of it goes only
// once the product's keys are gone: a product that is still registered needs every piece of it (without its
// cached package no repair, uninstall or upgrade of it can run).
#pragma once

#include "cleaner/steps/registry_data_installer_context.h"
#include "footprint/installer_product.h"

#include <string>
#include <vector>

namespace cleaner {

// What the product's registration names, read before its keys go.
struct product_leftovers {
    ferrolink::product_codes codes;
    std::wstring cached_package;
    std::vector<std::wstring> patches;  // packed patch codes
};

product_leftovers read_product_leftovers(const installer_context& context, const ferrolink::product_codes& codes);

// After the product's keys are gone: every patch that no other product still uses (its keys, then its cached
// package), then the product's cached package, then, for a product of the machine, its own Installer folder.
// False when a patch stays registered (its package stays with it).
[[nodiscard]] bool delete_product_leftovers(const installer_context& context, const product_leftovers& product);

// The product's keys stay: so does everything else of it; logged where there is a cached package.
void keep_product_leftovers(const product_leftovers& product);

// The entries of Installer\Folders for `folders` and the folders below them.
void delete_folder_entries(const std::vector<std::wstring>& folders);

} // namespace cleaner
