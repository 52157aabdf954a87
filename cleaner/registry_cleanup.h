// Step 6: the client's registry data and its Windows Installer registration.
#pragma once

namespace cleaner {

// Deletes the client's keys, then, when Windows Installer knows a product of the client's upgrade family, that
// product's installer registration. `automatic` keeps the saved connection profiles. Failures are only logged;
// the result is always 1.
[[nodiscard]] int delete_registry_data(bool automatic);

} // namespace cleaner
