#pragma once

#include <cstdint>
#include <cstdio>

namespace cleaner {

// Step 2: asks the maker's client protection service, under each of its two service names in turn, to lift
// its protection from the client's service and from its Standalone registry key, one fresh helper connection
// per target. Its lines go to `log`. 0 when, for each target, the last service reached answered its unprotect
// request with success; -1 otherwise (a refusal and a request without an answer leave a target protected).
[[nodiscard]] std::int32_t release_client_protection(FILE* log);

} // namespace cleaner
