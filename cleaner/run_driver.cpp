#include "cleaner/run_driver.h"

#include "cleaner/command_line.h"
#include "cleaner/mechanisms/log_file.h"
#include "cleaner/mechanisms/run_privileges.h"
#include "cleaner/run_log.h"
#include "cleaner/steps/install_folder.h"
#include "cleaner/steps/installer_registration.h"
#include "cleaner/steps/network_driver.h"
#include "cleaner/steps/processes.h"
#include "cleaner/steps/protection.h"
#include "cleaner/steps/registry_data.h"
#include "cleaner/steps/services.h"
#include "cleaner/steps/shortcuts.h"
#include "footprint/footprint.h"
#include "fl_version.h"

#include <cstdlib>
#include <string>

namespace cleaner {

namespace {

const char kVersion[] = FL_VERSION_TEXT;
// What deployment agents read: the Windows Installer codes that Intune and SCCM map to success, soft reboot and
// failure by default.
const int kExitSuccess = 0;
const int kExitRestartRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
const int kExitFailure = 1603;          // ERROR_INSTALL_FAILURE
const int kExitNoLog = 1;
const char kRule[] = "=============================================================================";
// Step 2's console text when the protection stays. "\ntFailed" (a line break, then the letter t) is the run's
// established text, not a slip: tools that read the console may match it, so it stays as it is.
const char kProtectionFailed[] = "failed\ntFailed to stop unprotect action. Maybe an exe installer? Continue...";
const char kFailureText[] =
    "\nFailed to uninstall Ferrolink.\nPlease check the failure reason from the log and contact your support "
    "for more information.";

const char kUsage[] =
    "Removes the Ferrolink SSL-VPN client and what its installer left: processes,\n"
    "the protection service's guard on the client, services, the virtual adapter and\n"
    "its driver packages, the install folder, registry data and Windows Installer\n"
    "registration, shortcuts.\n"
    "\n"
    "Usage:\n"
    "  FerrolinkCleaner.exe        interactive: log \"Ferrolink Cleaner Log.txt\" in\n"
    "                              the current folder, pause at the end\n"
    "  FerrolinkCleaner.exe -auto  unattended: the same log in the temp folder, no\n"
    "                              pause, no restart prompt\n"
    "  FerrolinkCleaner.exe /?     this text; nothing is removed. -?, /h, -h and\n"
    "                              --help do the same\n"
    "Any other command line, \"-AUTO\" included, is an interactive run.\n"
    "\n"
    "Run it as administrator. The verdict (\"succeed\" or \"failed\") is on the console\n"
    "and at the end of the log. Exit codes, in both modes (Intune and SCCM read 0,\n"
    "3010 and 1603 as success, soft reboot and failure):\n"
    "  0     the client is removed, no restart needed; also after this text\n"
    "  3010  the client is removed; Windows must restart to finish\n"
    "  1603  the removal failed; the log says where\n"
    "  1     the run log cannot be created; nothing was done\n"
    "FerrolinkAudit.exe (same folder) tells whether anything of the client is left.\n";

void write_banner(void (*line)(const char*, ...))
{
    line("Ferrolink Clean Tool - Version %s", kVersion);
    line("Copyright (C) 2026 Orvane. All rights reserved.");
    line("");
}

// A request for help must never become an elevated removal: the banner and the usage, nothing else.
void write_usage()
{
    write_banner(console_line);
    console_text("%s", kUsage);
}

// The banner is on the console already; the log gets it too, then both get the start lines.
void write_log_header()
{
    write_banner(log_line);
    for (auto line : {console_line, log_line}) {
        line("%s", kRule);
        line("Start to Run Ferrolink Cleaner Tool");
        line("");
    }
}

// What a step returned: its code and, for step 1, the image that the code is about.
struct step_result {
    int code;
    const wchar_t* image;
};

// How the driver reads a step's code; read_result() is where every reading is done.
enum class reading {
    process_stop,    // step 1: 0 stopped, 1 not running, 2 process list unavailable, 3 termination failed
    protection,      // step 2: 0 released, anything else not; reported, never counted
    ends_run_on_0,   // step 3: non-zero success, 0 ends the run
    counted,         // steps 4 to 8: non-zero success, 0 fails the verdict and the run goes on
};

enum class step_effect { goes_on, fails_verdict, ends_run };

struct step {
    const char* console_title;  // written as it is before the step; null: the console line before goes on
    const char* log_title;
    step_result (*run)();
    reading read;
};

// Step 1: the client's images in their order, each only while the one before was stopped or not running.
step_result stop_client_processes()
{
    step_result result = {1, nullptr};
    for (const wchar_t* image : ferrolink::process_images) {
        result = {stop_process(image), image};
        if (result.code == 2 || result.code == 3)
            break;
    }
    return result;
}

// Step 2 writes its lines to the run log it is given.
step_result release_protection()
{
    return {release_client_protection(run_log), nullptr};
}

// Step 6 keeps the saved connection profiles in automatic mode.
step_result delete_client_registry_data()
{
    return {delete_registry_data(automatic_mode), nullptr};
}

template <int (*Step)()>
step_result plain_step()
{
    return {Step(), nullptr};
}

// The steps in their order. Step 2's console title ends its line: its verdict goes on the next one.
const step kSteps[] = {
    {"1.Stopping Ferrolink process..........", "1.Check and stop FLGui.exe and FLIdle.exe", stop_client_processes,
     reading::process_stop},
    {"2.Unprotecting Ferrolink resources..........\n", "2.Try to stop Ferrolink protection", release_protection,
     reading::protection},
    {"3.Stopping Ferrolink service..........", "3.Try to stop and uninstall Ferrolink Service",
     plain_step<remove_services>, reading::ends_run_on_0},
    {"4.Uninstalling Ferrolink..........", "4.Try to uninstall Ferrolink Driver", plain_step<remove_driver>,
     reading::counted},
    {nullptr, "5.Try to delete Ferrolink files", plain_step<delete_files>, reading::counted},
    {nullptr, "6.Try to delete Ferrolink register data", delete_client_registry_data, reading::counted},
    {nullptr, "7.Try to clean Ferrolink quick link", plain_step<delete_shortcuts>, reading::counted},
    {nullptr, "8.Check whether insalled by msi installer", plain_step<check_installer_registration>,
     reading::counted},
};

// The one place where a step's result is read: the lines it earns, and what it does to the run.
step_effect read_result(reading read, const step_result& result)
{
    switch (read) {
    case reading::process_stop:
        if (result.code == 2) {
            log_line("\tPlease Restart the Ferrolink Cleaner again");
            return step_effect::ends_run;
        }
        if (result.code == 3) {
            log_line("\tCan not stop %s. Please it stop by task manager.", wide_to_utf8(result.image).c_str());
            return step_effect::ends_run;
        }
        log_line("\tsucceed");
        console_line("succeed");
        return step_effect::goes_on;
    case reading::protection:
        console_line("%s", result.code == 0 ? "succeed" : kProtectionFailed);
        return step_effect::goes_on;
    case reading::ends_run_on_0:
        console_line("%s", result.code != 0 ? "succeed" : "failed");
        return result.code != 0 ? step_effect::goes_on : step_effect::ends_run;
    case reading::counted:
        return result.code != 0 ? step_effect::goes_on : step_effect::fails_verdict;
    }
    return step_effect::goes_on;
}

void write_verdict(bool succeeded)
{
    if (succeeded) {
        console_line("succeed");
        console_line("\nUninstall Ferrolink succeed");
        log_line("\n\nUninstall Ferrolink succeed");
        return;
    }
    console_line("failed\n%s", kFailureText);
    log_line("\n%s", kFailureText);
}

void write_restart_notice()
{
    console_line("");
    console_line("%s", kRule);
    console_line("ATTENTIION! Please restart your PC after close this program.");
    console_line("%s", kRule);
}

// Every step in its order; one that ends the run leaves the rest undone. True when the verdict is success:
// steps 4 to 8 all run, and every one of them must succeed.
bool run_steps()
{
    // Without it, step 1 fails on the processes of any other account. Its absence is not reported here: step 1
    // logs what it then cannot stop.
    enable_run_privileges();
    bool succeeded = true;
    for (const step& each : kSteps) {
        if (each.console_title != nullptr)
            console_text("%s", each.console_title);
        log_line("%s", each.log_title);
        const step_effect effect = read_result(each.read, each.run());
        if (effect == step_effect::ends_run)
            return false;
        if (effect == step_effect::fails_verdict)
            succeeded = false;
    }
    return succeeded;
}

// The same condition in both modes: an interactive run shows the restart notice exactly then.
int exit_code_of(bool succeeded)
{
    if (!succeeded)
        return kExitFailure;
    return restart_required ? kExitRestartRequired : kExitSuccess;
}

} // namespace

int run_cleaner(int argc, char** argv)
{
    const run_request request = request_of(argc, argv);
    if (request == run_request::usage) {
        write_usage();
        return kExitSuccess;
    }
    automatic_mode = request == run_request::automatic;
    write_banner(console_line);

    run_log = open_run_log(automatic_mode);
    if (run_log == nullptr) {
        console_line("Can not create Ferrolink Cleaner Log.txt");
        return kExitNoLog;
    }
    write_log_header();

    const bool succeeded = run_steps();
    write_verdict(succeeded);

    std::fclose(run_log);
    run_log = nullptr;

    const int exit_code = exit_code_of(succeeded);
    if (automatic_mode)
        return exit_code;
    if (exit_code == kExitRestartRequired)
        write_restart_notice();
    std::system("PAUSE");
    return exit_code;
}

} // namespace cleaner
