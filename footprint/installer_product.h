// Which Windows Installer registrations are the client's.
#pragma once

#include <windows.h>

#include <string>

namespace ferrolink {

// A product code in the three forms the installer's keys use.
struct product_codes {
    std::wstring braced;  // "{...}", 38 characters
    std::wstring bare;    // without the braces
    std::wstring packed;  // the installer's packed form of the bare code
};

// Only a well-formed braced code may complete a key path: anything shorter would name a parent key.
bool derive_product_codes(const std::wstring& braced, product_codes& codes);

// The first product of the client's upgrade family as Windows Installer reports it (index 0); false when the
// query fails.
bool first_related_product(std::wstring& product_code);

// True when a product key's "ProductName" is a string that is exactly the client's name.
bool has_client_product_name(HKEY product);

// True when `key` holds a value named exactly `name`, letter case included.
bool holds_value_exactly(HKEY key, const std::wstring& name);

} // namespace ferrolink
