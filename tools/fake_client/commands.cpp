// The command-line face of each part of the fake client: parses its words, calls the part, reports on the console.
#include "commands.h"

#include "adapter.h"
#include "audit/checks.h"
#include "audit/text_report.h"
#include "common.h"
#include "driver_package.h"
#include "install_folder.h"
#include "mcl/mswin/utf.h"
#include "services.h"
#include "shortcuts.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace fake_client {

const char services_usage[] =
    "  services install [--start-pending MS] [--stop-pending MS] [--no-stop] [--stopped]\n"
    "  services remove | status\n";
const char adapter_usage[] = "  adapter add [hardware-id...]   (default: orvanefldrv)\n  adapter remove | status\n";
const char driver_usage[] = "  driver publish <folder> <inf-name> [--catalog]\n  driver remove | status\n";
const char files_usage[] =
    "  files [make] [folder] [--register]   (default: the client's default installation folder)\n"
    "  files remove [folder] | status [folder]\n";
const char shortcuts_usage[] = "  shortcuts [make] | remove | status\n";

namespace {

const int kDone = 0;
const int kFailed = 1;
const int kUsage = 2;


int report(const char* what, DWORD error)
{
    if (error == 0)
        return kDone;
    std::printf("%s failed, error %lu\n", what, error);
    return kFailed;
}

const wchar_t* state_name(DWORD state)
{
    switch (state) {
    case 0: return L"not installed";
    case SERVICE_STOPPED: return L"stopped";
    case SERVICE_START_PENDING: return L"start pending";
    case SERVICE_STOP_PENDING: return L"stop pending";
    case SERVICE_RUNNING: return L"running";
    default: return L"installed";
    }
}

// Reads "--name MS" pairs and flags of `services install`; false on a word it does not know.
bool parse_service_options(const arguments& args, service_options& options)
{
    for (size_t i = 1; i < args.size(); ++i) {
        const bool has_value = i + 1 < args.size();
        if (args[i] == L"--start-pending" && has_value)
            options.start_pending_ms = std::wcstoul(args[++i].c_str(), nullptr, 10);
        else if (args[i] == L"--stop-pending" && has_value)
            options.stop_pending_ms = std::wcstoul(args[++i].c_str(), nullptr, 10);
        else if (args[i] == L"--no-stop")
            options.accept_stop = false;
        else if (args[i] == L"--stopped")
            options.start = false;
        else
            return false;
    }
    return true;
}

int install_services(const arguments& args)
{
    service_options options;
    if (!parse_service_options(args, options))
        return kUsage;
    for (const wchar_t* name : client_service_names) {
        if (report(("installing service " + mcl::mswin::wide_to_utf8(name)).c_str(), install_service(name, options)) != kDone)
            return kFailed;
        std::printf("service %s: %s\n", mcl::mswin::wide_to_utf8(name).c_str(), mcl::mswin::wide_to_utf8(state_name(service_state(name))).c_str());
    }
    return kDone;
}

// The folder named after the action, or the client's default installation folder.
std::wstring folder_argument(const arguments& args, size_t index)
{
    if (index < args.size() && args[index].compare(0, 2, L"--") != 0)
        return args[index];
    return default_install_folder();
}

bool has_flag(const arguments& args, const wchar_t* flag)
{
    for (const std::wstring& arg : args) {
        if (arg == flag)
            return true;
    }
    return false;
}

// The audit's install folder items; a folder named on the command line is looked at as well.
int show_install_folder(const arguments& args, size_t index)
{
    std::vector<audit::audit_item> items = audit::check_install_folder();
    if (index < args.size() && args[index].compare(0, 2, L"--") != 0)
        items.push_back(audit::check_folder(args[index]));
    return print_audit_items(items);
}

} // namespace

int print_audit_items(const std::vector<audit::audit_item>& items)
{
    for (const audit::audit_item& item : items)
        std::printf("%s\n", audit::item_line(item).c_str());
    return kDone;
}

int services_command(const arguments& args)
{
    const std::wstring action = args.empty() ? L"status" : args[0];
    if (action == L"install")
        return install_services(args);
    if (action == L"remove") {
        int result = kDone;
        for (const wchar_t* name : client_service_names) {
            if (report(("removing service " + mcl::mswin::wide_to_utf8(name)).c_str(), remove_service(name)) != kDone)
                result = kFailed;
        }
        return result;
    }
    if (action != L"status")
        return kUsage;
    return print_audit_items(audit::check_client_services());
}

int adapter_command(const arguments& args)
{
    const std::wstring action = args.empty() ? L"status" : args[0];
    if (action == L"add") {
        std::vector<std::string> ids;
        for (size_t i = 1; i < args.size(); ++i)
            ids.push_back(to_narrow(args[i]));
        if (ids.empty())
            ids.push_back(client_adapter_ids[0]);
        std::string instance;
        if (report("adding the adapter", add_adapter(ids, &instance)) != kDone)
            return kFailed;
        std::printf("adapter %s added\n", instance.c_str());
        return kDone;
    }
    if (action == L"remove")
        return report("removing the adapters", remove_adapters(client_adapter_id_list()));
    if (action != L"status")
        return kUsage;
    return print_audit_items(audit::check_adapters());
}

int driver_command(const arguments& args)
{
    const std::wstring action = args.empty() ? L"status" : args[0];
    if (action == L"publish") {
        if (args.size() < 3)
            return kUsage;
        std::string published;
        const DWORD error = publish_driver(args[1], to_narrow(args[2]), has_flag(args, L"--catalog"), &published);
        if (report("publishing the driver package", error) != kDone)
            return kFailed;
        std::printf("driver package %s published as %s\n", mcl::mswin::wide_to_utf8(args[2]).c_str(), published.c_str());
        return kDone;
    }
    if (action == L"remove")
        return report("removing the driver packages", remove_footprint_infs());
    if (action != L"status")
        return kUsage;
    return print_audit_items(audit::check_driver_packages());
}

int files_command(const arguments& args)
{
    const bool explicit_action = !args.empty() && (args[0] == L"make" || args[0] == L"remove" || args[0] == L"status");
    const std::wstring action = explicit_action ? args[0] : L"make";
    const std::wstring folder = folder_argument(args, explicit_action ? 1 : 0);
    if (action == L"status")
        return show_install_folder(args, explicit_action ? 1 : 0);
    if (action == L"remove") {
        const int result = report("removing the install folder", remove_install_tree(folder));
        return result != kDone ? result : report("unregistering InstallDir", unregister_install_dir());
    }
    if (report("making the install folder", make_install_tree(folder)) != kDone)
        return kFailed;
    if (has_flag(args, L"--register") && report("registering InstallDir", register_install_dir(folder)) != kDone)
        return kFailed;
    std::printf("install folder %s made\n", mcl::mswin::wide_to_utf8(folder).c_str());
    return kDone;
}

int shortcuts_command(const arguments& args)
{
    const std::wstring action = args.empty() ? L"make" : args[0];
    if (action == L"make") {
        if (report("making the shortcuts", make_shortcuts(default_install_folder() + L"\\Ferrolink.exe")) != kDone)
            return kFailed;
        std::printf("shortcuts made\n");
        return kDone;
    }
    if (action == L"remove")
        return report("removing the shortcuts", remove_shortcuts());
    if (action != L"status")
        return kUsage;
    return print_audit_items(audit::check_shortcuts());
}

} // namespace fake_client
