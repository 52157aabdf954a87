// For the component sweep (step 6): the client's share of the legacy reference count of a shared file (SharedDLLs).
#pragma once

#include <string>

namespace cleaner {

// Releases one count of `file`, the key file of a component that the client's product was the last to use:
// Windows Installer counts a component's key file once for all of its products, so that count was the client's.
// The count goes down by one, and the value goes when nothing is left; the other view is never touched, nor a
// value that is no count. One log line where a count was found.
void release_shared_dll(const std::wstring& file);

} // namespace cleaner
