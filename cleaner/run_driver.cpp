#include "cleaner/run_driver.h"

#include "cleaner/command_line.h"
#include "cleaner/steps/network_driver.h"
#include "cleaner/steps/install_folder.h"
#include "footprint/footprint.h"
#include "cleaner/steps/installer_registration.h"
#include "cleaner/mechanisms/log_file.h"
#include "cleaner/steps/processes.h"
#include "cleaner/steps/protection.h"
#include "cleaner/steps/registry_data.h"
#include "cleaner/run_log.h"
#include "cleaner/mechanisms/run_privileges.h"
#include "cleaner/steps/services.h"
#include "cleaner/steps/shortcuts.h"
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

// Step 1. False aborts the run.
bool stop_client_processes()
{
    console_text("1.Stopping Ferrolink process..........");
    log_line("1.Check and stop FLGui.exe and FLIdle.exe");
    for (const wchar_t* image : ferrolink::process_images) {
        const int result = stop_process(image);
        if (result == 2) {
            log_line("\tPlease Restart the Ferrolink Cleaner again");
            return false;
        }
        if (result == 3) {
            log_line("\tCan not stop %s. Please it stop by task manager.", wide_to_utf8(image).c_str());
            return false;
        }
    }
    log_line("\tsucceed");
    console_line("succeed");
    return true;
}

// Step 2. Its result is reported, but the run goes on either way and the verdict does not count it.
void release_protection()
{
    console_line("2.Unprotecting Ferrolink resources..........");
    log_line("2.Try to stop Ferrolink protection");
    if (release_client_protection(run_log) == 0) {
        console_line("succeed");
        return;
    }
    console_line("failed\ntFailed to stop unprotect action. Maybe an exe installer? Continue...");
}

// Step 3. False aborts the run.
bool remove_client_services()
{
    console_text("3.Stopping Ferrolink service..........");
    log_line("3.Try to stop and uninstall Ferrolink Service");
    if (remove_services() == 0) {
        console_line("failed");
        return false;
    }
    console_line("succeed");
    return true;
}

// One of steps 4 to 8: its log title, then the step; true when it succeeded.
bool run_step(const char* log_title, int (*step)())
{
    log_line("%s", log_title);
    return step() != 0;
}

// Steps 4 to 8 all run, whatever each returns; the verdict needs every one of them to succeed.
bool run_removal_steps()
{
    console_text("4.Uninstalling Ferrolink..........");
    bool all_succeeded = true;
    all_succeeded &= run_step("4.Try to uninstall Ferrolink Driver", remove_driver);
    all_succeeded &= run_step("5.Try to delete Ferrolink files", delete_files);
    all_succeeded &= run_step("6.Try to delete Ferrolink register data",
                              [] { return delete_registry_data(automatic_mode); });
    all_succeeded &= run_step("7.Try to clean Ferrolink quick link", delete_shortcuts);
    all_succeeded &= run_step("8.Check whether insalled by msi installer", check_installer_registration);
    return all_succeeded;
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

bool run_steps()
{
    // Without it, step 1 fails on the processes of any other account. Its absence is not reported here: step 1
    // logs what it then cannot stop.
    enable_run_privileges();
    if (!stop_client_processes())
        return false;
    release_protection();
    if (!remove_client_services())
        return false;
    return run_removal_steps();
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
