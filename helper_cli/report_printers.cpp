#include "helper_cli/report_printers.h"

#include "helper_cli/console_output.h"
#include "helper_cli/registry_roots.h"

#include <cstddef>

namespace helper_cli {

namespace {

const char rule_line[] = "=============================";
const char separator_line[] = " ";

const char* yes_no(std::uint8_t flag) { return flag != 0 ? "Yes" : "No"; }

void line(const std::string& label, const std::string& value) { write_line(label + value); }

void wide_line(const std::string& label, const std::u16string& value) { write_line(label + utf16_to_utf8(value)); }

void count_line(std::size_t count, const char* text) { write_line(std::to_string(count) + text); }

} // namespace

void print_protected_services(const std::vector<protected_service>& services)
{
    for (const protected_service& service : services) {
        write_line(service.service_name);
        write_line(rule_line);
        wide_line("Binary path: ", service.binary_path);
        line("Service level protection: ", yes_no(service.service_level));
        line("Process level protection: ", yes_no(service.process_level));
        line("Service SID: ", service.service_sid);
        line("Current service DACL permissions: ", service.service_dacl);
        wide_line("Reference folder: ", service.reference_folder);
        line("Current folder DACL permissions: ", service.folder_dacl);
        write_line(separator_line);
    }
    count_line(services.size(), " services are protected.");
}

void print_protected_processes(const std::vector<protected_process>& processes)
{
    for (const protected_process& process : processes) {
        wide_line("", process.image_path);
        write_line(rule_line);
        line("Process level protection: ", yes_no(process.process_level));
        wide_line("Reference folder: ", process.reference_folder);
        line("Current folder DACL permissions: ", process.folder_dacl);
        write_line(separator_line);
    }
    count_line(processes.size(), " processes are protected.");
}

void print_protected_registry_keys(const std::vector<protected_registry_key>& keys)
{
    for (const protected_registry_key& key : keys) {
        wide_line("", registry_root_label(key.root) + u"\\" + key.subkey);
        write_line(rule_line);
        line("Registry protection: ", yes_no(key.key_level));
        line("Owner service: ", key.owner_service);
        for (const std::string& service : key.full_access_services)
            line("Full access service: ", service);
        line("Original DACL permissions: ", key.original_dacl);
        line("Current DACL permissions: ", key.current_dacl);
        write_line(separator_line);
    }
    count_line(keys.size(), " registry keys are protected.");
}

void print_protected_folders(const std::vector<protected_folder>& folders)
{
    for (const protected_folder& folder : folders) {
        wide_line("", folder.folder_path);
        write_line(rule_line);
        line("Folder protection: ", yes_no(folder.folder_level));
        line("Current folder DACL permissions: ", folder.folder_dacl);
        write_line(separator_line);
    }
    count_line(folders.size(), " folder are protected.");
}

void print_quarantine_containers(const std::vector<std::string>& containers)
{
    write_line(separator_line);
    for (const std::string& container : containers) {
        write_line(container);
        write_line(separator_line);
    }
    count_line(containers.size(), " quarantine containers.");
}

void print_quarantined_files(const std::vector<quarantined_file>& files, const std::string& container)
{
    write_line(separator_line);
    for (const quarantined_file& file : files) {
        write_line(file.quarantine_name);
        write_line(rule_line);
        line("Original path: ", file.original_path);
        write_line(separator_line);
    }
    write_line(std::to_string(files.size()) + " files are quarantined in " + container + ".");
}

} // namespace helper_cli
