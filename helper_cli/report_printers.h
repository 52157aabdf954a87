// The console reports of the query commands: one printer per list kind, each ending with its count line.
#pragma once

#include "helper/iovchelper.h"

#include <string>
#include <vector>

namespace helper_cli {

void print_protected_services(const std::vector<protected_service>& services);
void print_protected_processes(const std::vector<protected_process>& processes);
void print_protected_registry_keys(const std::vector<protected_registry_key>& keys);
void print_protected_folders(const std::vector<protected_folder>& folders);
void print_quarantine_containers(const std::vector<std::string>& containers);
// `container` is the name as typed on the command line.
void print_quarantined_files(const std::vector<quarantined_file>& files, const std::string& container);

} // namespace helper_cli
