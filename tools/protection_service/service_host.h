// Where the double runs: as a Windows service under the service control manager, or in the foreground.
#pragma once

#include <string>

namespace protection_double {

struct host_options {
    std::string name;
    std::wstring script_path;
    std::wstring log_path;
};

// Both return the process exit code.
int run_service(const host_options& options);
int run_console(const host_options& options);

} // namespace protection_double
