// Which Windows Installer registrations are the client's.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ferrolink {

// A product code in the three forms the installer's keys use.
struct product_codes {
    std::wstring braced;  // "{...}", 38 characters
    std::wstring bare;    // without the braces
    std::wstring packed;  // the installer's packed form of the bare code
};

// Only a well-formed braced code may complete a key path: anything shorter would name a parent key.
bool derive_product_codes(const std::wstring& braced, product_codes& codes);

// Every product code of the client, braced, each once (letter case ignored), in this order: the related products
// of its upgrade family as Windows Installer reports them (every index), the packed codes listed under its
// upgrade code (the classes' copy, then Windows Installer's own index), and the products registered under its
// name. A run that stopped half way leaves some of these behind; any one of them still leads to the product.
// Codes from the related-products call are given as the call returned them; the others are well-formed.
std::vector<std::wstring> client_product_codes();

// True when `key` holds a value named exactly `name`, letter case included.
bool holds_value_exactly(HKEY key, const std::wstring& name);

} // namespace ferrolink
