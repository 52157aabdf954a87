// Row 23 of the registry cleanup: the product's references in Windows Installer's per-machine component keys.
#pragma once

#include <windows.h>

#include <string>

namespace cleaner {

// Every component key under Installer\UserData\S-1-5-18\Components that holds a value named exactly
// `packed_product` loses that value, and the key goes too when nothing else is left in it; other products
// sharing the component keep their registration. Returns 0 only when the Components key cannot be opened;
// `released_all` (when given) tells whether every value of the product went. A component that the product was
// the last to use, in any user data, gives back the product's SharedDLLs count of its key file.
[[nodiscard]] int sweep_components(const std::wstring& packed_product, bool* released_all = nullptr);

// The same over any Components key: `components_path` ends with a backslash.
[[nodiscard]] int sweep_components_under(HKEY root, const std::wstring& components_path,
                                         const std::wstring& packed_product, bool* released_all = nullptr);

} // namespace cleaner
