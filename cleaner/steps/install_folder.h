#pragma once

namespace cleaner {

// Step 5: deletes the client's installation folder, the registered one when the registry names a usable
// folder, else the default one. 1 on success (also when the folder is missing), 0 on failure.
[[nodiscard]] int delete_files();

} // namespace cleaner
