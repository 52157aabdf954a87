// Runs FerrolinkCleaner.exe as its own process and checks what it prints, logs and does.
#include "captured_log.h"
#include "fake_client/driver_package.h"
#include "fake_client/common.h"
#include "fake_client/shortcuts.h"
#include "log_lines.h"
#include "mcl/mswin/unique_resource.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <shlobj.h>

using namespace fltest;

namespace {

const std::string kStep1Console = "1.Stopping Ferrolink process..........succeed\n";
const std::string kStep1Log = "1.Check and stop FLGui.exe and FLIdle.exe\n\tsucceed\n";
// Without the protection service step 2 reaches nothing under either name; the run goes on.
const std::string kStep2Console = "2.Unprotecting Ferrolink resources..........\nfailed\n"
                                  "tFailed to stop unprotect action. Maybe an exe installer? Continue...\n";
const std::string kStep2Log =
    "2.Try to stop Ferrolink protection\n"
    "\tTrying to stop protection of Ferrolink service:1\n"
    "Unable to connect client protection service, please make sure it has been started.\n"
    "\tTrying to stop protection of Ferrolink reg:1\n"
    "Unable to connect client protection service, please make sure it has been started.\n"
    "\tTrying to stop protection of Ferrolink service:2\n"
    "\tTrying to stop protection of Ferrolink reg:2\n"
    "3.Try to stop and uninstall Ferrolink Service\n";

std::wstring automatic_log_path()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + widen(kRunLogName);
}

// An automatic run's log in the temp folder is removed before and after each test.
class CleanerRun : public ::testing::Test {
protected:
    void SetUp() override { ::DeleteFileW(automatic_log_.c_str()); }
    void TearDown() override { ::DeleteFileW(automatic_log_.c_str()); }

    process_output run(const std::wstring& arguments = L"") const { return run_cleaner(work_.path(), arguments); }

    std::string log_in_work_dir() const { return read_text(work_ / widen(kRunLogName)); }

    const std::wstring automatic_log_ = automatic_log_path();
    temp_folder work_;
};

TEST_F(CleanerRun, InteractiveRunPrintsHeaderStepsAndVerdictThenPauses)
{
    const process_output out = run();
    EXPECT_EQ(0u, out.exit_code);
    ASSERT_TRUE(starts_with(out.console, kHeader + kStep1Console + kStep2Console + "3.Stopping")) << out.console;
    // The verdict completes the step 4 line; the pause prompt follows it, and no restart notice.
    const size_t verdict = out.console.find("4.Uninstalling Ferrolink.........." + kSuccessConsole);
    ASSERT_NE(std::string::npos, verdict) << out.console;
    const std::string after = out.console.substr(verdict);
    EXPECT_EQ(std::string::npos, after.find("ATTENTIION!"));
    EXPECT_FALSE(ends_with(out.console, kSuccessConsole)) << "no pause prompt after the verdict";

    const std::string log = log_in_work_dir();
    EXPECT_TRUE(starts_with(log, kHeader + kStep1Log + kStep2Log)) << log;
    EXPECT_TRUE(ends_with(log, kSuccessLog)) << log;
    EXPECT_FALSE(exists(automatic_log_)) << "interactive mode never logs to the temp folder";
}

TEST_F(CleanerRun, AutomaticRunLogsToTheTempFolderAndNeitherPausesNorAsksForARestart)
{
    const process_output out = run(L"-auto");
    EXPECT_EQ(0u, out.exit_code);
    EXPECT_TRUE(starts_with(out.console, kHeader + kStep1Console)) << out.console;
    EXPECT_TRUE(ends_with(out.console, kSuccessConsole)) << "nothing after the verdict: " << out.console;

    const std::string log = read_text(automatic_log_);
    EXPECT_TRUE(starts_with(log, kHeader + kStep1Log)) << log;
    EXPECT_TRUE(ends_with(log, kSuccessLog)) << log;
    EXPECT_FALSE(exists(work_ / widen(kRunLogName)));
}

TEST_F(CleanerRun, OnlyTheExactSingleWordSelectsAutomaticMode)
{
    for (const wchar_t* arguments : {L"-AUTO", L"-auto x", L"-autox", L"auto", L"/auto"}) {
        SCOPED_TRACE(narrow(arguments));
        ::DeleteFileW((work_ / widen(kRunLogName)).c_str());
        const process_output out = run(arguments);
        EXPECT_EQ(0u, out.exit_code);
        EXPECT_FALSE(ends_with(out.console, kSuccessConsole)) << "interactive mode pauses";
        EXPECT_TRUE(starts_with(log_in_work_dir(), kHeader)) << "interactive mode logs to the working folder";
    }
}

// A request for help prints the usage and leaves the machine alone: no step, no log anywhere, no pause.
TEST_F(CleanerRun, AHelpRequestPrintsTheUsageAndRunsNothing)
{
    child_process gui(copy_sleeper(work_.path(), L"FLGui.exe"));
    child_process main_exe(copy_sleeper(work_.path(), L"Ferrolink.exe"));
    child_process idle(copy_sleeper(work_.path(), L"FLIdle.exe"));
    ASSERT_TRUE(gui.started() && main_exe.started() && idle.started());

    for (const wchar_t* arguments : {L"/?", L"-?", L"/h", L"-h", L"--help", L"/H", L"-H", L"--HELP", L"--hElP"}) {
        SCOPED_TRACE(narrow(arguments));
        const process_output out = run(arguments);
        EXPECT_EQ(0u, out.exit_code);
        EXPECT_TRUE(starts_with(out.console, kBanner + "Removes the Ferrolink SSL-VPN client")) << out.console;
        for (const char* topic : {" -auto ", " /? ", "interactive: log \"Ferrolink Cleaner Log.txt\" in",
                                  "unattended: the same log in the temp folder", "administrator",
                                  "\n  3010  the client is removed; Windows must restart to finish\n",
                                  "\n  1603  the removal failed", "\n  1     the run log cannot be created",
                                  "FerrolinkAudit.exe"})
            EXPECT_NE(std::string::npos, out.console.find(topic)) << topic;
        EXPECT_TRUE(ends_with(out.console, "client is left.\n")) << "no pause prompt: " << out.console;
        EXPECT_TRUE(gui.running() && main_exe.running() && idle.running()) << "step 1 must not run";
        EXPECT_FALSE(exists(work_ / widen(kRunLogName)));
        EXPECT_FALSE(exists(automatic_log_));
    }
}

// Words close to "-auto" or to a help request start an ordinary interactive run: step 1 stops the client,
// the log is in the working folder, the run pauses.
TEST_F(CleanerRun, WordsCloseToAutoOrHelpStartAnInteractiveRun)
{
    for (const wchar_t* arguments : {L"-AUTO", L"-automatic", L"/? x", L"-help"}) {
        SCOPED_TRACE(narrow(arguments));
        ::DeleteFileW((work_ / widen(kRunLogName)).c_str());
        child_process gui(copy_sleeper(work_.path(), L"FLGui.exe"));
        ASSERT_TRUE(gui.started());

        const process_output out = run(arguments);
        EXPECT_EQ(0u, out.exit_code);
        EXPECT_TRUE(starts_with(out.console, kHeader + kStep1Console)) << out.console;
        EXPECT_FALSE(ends_with(out.console, kSuccessConsole)) << "interactive mode pauses";
        EXPECT_TRUE(gui.wait(10000)) << "step 1 stops the client";
        EXPECT_TRUE(starts_with(log_in_work_dir(), kHeader + kStep1Log));
        EXPECT_FALSE(exists(automatic_log_));
    }
}

// Every name the interactive log may take is held by a folder.
TEST_F(CleanerRun, ALogThatCannotBeCreatedEndsTheRunWithExitCode1BeforeAnyStep)
{
    ASSERT_TRUE(::CreateDirectoryW((work_ / widen(kRunLogName)).c_str(), nullptr));
    for (int number = 2; number <= 99; ++number) {
        const std::wstring name = L"Ferrolink Cleaner Log (" + std::to_wstring(number) + L").txt";
        ASSERT_TRUE(::CreateDirectoryW((work_ / name).c_str(), nullptr));
    }
    child_process client(copy_sleeper(work_.path(), L"FLGui.exe"));
    ASSERT_TRUE(client.started());

    const process_output out = run();
    EXPECT_EQ(1u, out.exit_code);
    EXPECT_EQ(kBanner + "Can not create Ferrolink Cleaner Log.txt\n", out.console);
    EXPECT_TRUE(client.running()) << "step 1 must not run";
}

TEST_F(CleanerRun, TwoRunsAppendToOneLog)
{
    write_text(work_ / widen(kRunLogName), "earlier content\n");
    run();
    run();
    const std::string log = log_in_work_dir();
    ASSERT_TRUE(starts_with(log, "earlier content\n" + kHeader)) << log;
    const size_t second = log.find(kHeader, 1 + std::string("earlier content\n").size());
    ASSERT_NE(std::string::npos, second) << log;
    EXPECT_TRUE(ends_with(log.substr(0, second), kSuccessLog));
    EXPECT_TRUE(ends_with(log, kSuccessLog));
}

TEST_F(CleanerRun, StepOneStopsEveryProcessOfEachClientNameWhateverItsCase)
{
    child_process gui(copy_sleeper(work_.path(), L"flgui.exe"));
    temp_folder other;
    child_process second_gui(copy_sleeper(other.path(), L"FLGui.exe"));
    child_process main_exe(copy_sleeper(work_.path(), L"Ferrolink.exe"));
    child_process idle(copy_sleeper(work_.path(), L"FLIDLE.EXE"));
    child_process lookalike(copy_sleeper(work_.path(), L"FLGui.exe.old.exe"));
    ASSERT_TRUE(gui.started() && second_gui.started() && main_exe.started() && idle.started() &&
                lookalike.started());

    const process_output out = run(L"-auto");
    EXPECT_TRUE(starts_with(out.console, kHeader + kStep1Console)) << out.console;
    EXPECT_TRUE(main_exe.wait(10000));
    EXPECT_TRUE(idle.wait(10000));
    EXPECT_TRUE(gui.wait(10000));
    EXPECT_TRUE(second_gui.wait(10000)) << "every copy of FLGui.exe is stopped";
    EXPECT_TRUE(lookalike.running()) << "a name that only begins with FLGui.exe is not the client's";
}

TEST_F(CleanerRun, AutomaticLogFallsBackToApplicationDataWhenTheTempFolderIsUnusable)
{
    wchar_t appdata[MAX_PATH] = {};
    ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, appdata, CSIDL_APPDATA, FALSE));
    const std::wstring fallback = std::wstring(appdata) + L"\\" + widen(kRunLogName);
    ::DeleteFileW(fallback.c_str());

    // A temp folder longer than MAX_PATH does not fit the cleaner's buffer: GetTempPathA reports failure.
    wchar_t saved[4096] = {};
    const DWORD saved_length = ::GetEnvironmentVariableW(L"TMP", saved, 4096);
    ::SetEnvironmentVariableW(L"TMP", (L"C:\\" + std::wstring(300, L'x')).c_str());
    const process_output out = run(L"-auto");
    ::SetEnvironmentVariableW(L"TMP", saved_length ? saved : nullptr);

    EXPECT_EQ(0u, out.exit_code);
    const std::string log = read_text(fallback);
    EXPECT_TRUE(starts_with(log, kHeader)) << out.console;
    ::DeleteFileW(fallback.c_str());
}

// A driver package of the client in the store makes step 4 ask for a restart.
class RestartNotice : public CleanerRun {
protected:
    void SetUp() override
    {
        CleanerRun::SetUp();
        ASSERT_EQ(0u, fake_client::publish_driver(source_.path(), package_, false));
    }
    void TearDown() override
    {
        fake_client::remove_footprint_infs();
        CleanerRun::TearDown();
    }

    static std::string notice()
    {
        return std::string("\n") + kRule + "\nATTENTIION! Please restart your PC after close this program.\n" + kRule +
               "\n";
    }

    temp_folder source_;
    const std::string package_ = "orvanefldrv_" + std::to_string(::GetCurrentProcessId()) + ".inf";
};

TEST_F(RestartNotice, FollowsASuccessfulInteractiveRun)
{
    const process_output out = run();
    EXPECT_EQ(3010u, out.exit_code);
    const size_t verdict = out.console.find(kSuccessConsole);
    ASSERT_NE(std::string::npos, verdict) << out.console;
    EXPECT_EQ(verdict + kSuccessConsole.size(), out.console.find(notice())) << out.console;
    EXPECT_EQ(std::string::npos, log_in_work_dir().find("ATTENTIION")) << "the notice is for the console only";
}

TEST_F(RestartNotice, IsNeverShownInAutomaticMode)
{
    const process_output out = run(L"-auto");
    EXPECT_TRUE(ends_with(out.console, kSuccessConsole)) << out.console;
    EXPECT_EQ(3010u, out.exit_code) << "the agent learns of the restart from the exit code";
}

TEST_F(RestartNotice, IsNeverShownAfterAFailedRun)
{
    // A file of the program group held without sharing makes step 7 fail, after step 4 removed the package.
    const std::wstring group = fake_client::client_shortcut_paths().program_group;
    ASSERT_EQ(0u, fake_client::create_folders(group));
    const std::wstring held_path = group + L"\\Orvane Ferrolink.lnk";
    write_text(held_path, "x");
    process_output out;
    {
        const mcl::mswin::unique_handle held(
            ::CreateFileW(held_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        out = run();
    }
    fake_client::remove_shortcuts();

    EXPECT_EQ(1603u, out.exit_code);
    EXPECT_NE(std::string::npos, out.console.find("4.Uninstalling Ferrolink..........failed\n\nFailed to uninstall "
                                                  "Ferrolink.\nPlease check the failure reason from the log and "
                                                  "contact your support for more information.\n"))
        << out.console;
    EXPECT_EQ(std::string::npos, out.console.find("ATTENTIION")) << out.console;
    EXPECT_NE(std::string::npos, log_in_work_dir().find("\tDelete oem file in driver store\n"));
    EXPECT_TRUE(ends_with(log_in_work_dir(), "\n\nFailed to uninstall Ferrolink.\nPlease check the failure reason "
                                             "from the log and contact your support for more information.\n"));
}

// Starts `exe` as a process nobody may open: Windows refuses an administrator only a protected process, and an
// access list that grants nothing stands in for one here. The creator's handle keeps every right.
mcl::mswin::unique_handle start_unstoppable(const std::wstring& exe)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, &descriptor, nullptr);
    const mcl::mswin::unique_hlocal owner(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring command = L"\"" + exe + L"\"";
    if (!descriptor ||
        !::CreateProcessW(nullptr, &command[0], &attributes, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return mcl::mswin::unique_handle();
    ::CloseHandle(info.hThread);
    return mcl::mswin::unique_handle(info.hProcess);
}

// A failure wins over the restart flag: whether step 1 ends the run early or step 4 fails, the run exits 1603.
TEST_F(RestartNotice, AFailureAtStep1OrStep4Exits1603)
{
    const std::wstring inf = fake_client::inf_folder() + L"\\" + widen(package_);
    for (const bool at_step_1 : {true, false}) {
        ::DeleteFileW(automatic_log_.c_str());
        const mcl::mswin::unique_handle client =
            at_step_1 ? start_unstoppable(copy_sleeper(work_.path(), L"FLGui.exe")) : mcl::mswin::unique_handle();
        // Step 4: the store cannot delete a package whose published INF is read-only.
        ASSERT_EQ(at_step_1, static_cast<bool>(client));
        ASSERT_TRUE(::SetFileAttributesW(inf.c_str(), at_step_1 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY));
        const process_output out = run(L"-auto");
        if (client && ::TerminateProcess(client.get(), 0))
            ::WaitForSingleObject(client.get(), 5000);
        ::SetFileAttributesW(inf.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(1603u, out.exit_code) << out.console;
        const std::string logged = at_step_1 ? "\tCan not stop FLGui.exe. Please it stop by task manager.\n"
                                             : "\tFailed to delete " + package_ + " from driver store, lastError:5\n";
        EXPECT_NE(std::string::npos, read_text(automatic_log_).find(logged)) << logged;
    }
}

// The executable asks Windows for elevation and carries its version.
TEST(CleanerExecutable, EmbedsTheElevationManifestAndVersion25)
{
    const std::wstring exe = bin_path(L"FerrolinkCleaner.exe");
    EXPECT_NE(std::string::npos,
              embedded_manifest(exe).find("level=\"requireAdministrator\" uiAccess=\"false\""));

    std::string block = version_block(exe);
    VS_FIXEDFILEINFO fixed = {};
    ASSERT_TRUE(version_of(block, fixed));
    EXPECT_EQ(MAKELONG(5, 2), fixed.dwFileVersionMS);
    EXPECT_EQ(MAKELONG(5, 2), fixed.dwProductVersionMS);
    wchar_t* company = nullptr;
    UINT company_length = 0;
    ASSERT_TRUE(::VerQueryValueW(&block[0], L"\\StringFileInfo\\040904b0\\CompanyName",
                                 reinterpret_cast<void**>(&company), &company_length));
    EXPECT_EQ(std::wstring(L"Orvane"), company);
}

} // namespace
