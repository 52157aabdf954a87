// Whole runs of FerrolinkCleaner.exe: what steps 3, 4, 5 and 7 write and leave, on a clean machine and on
// one with the client's footprint (services, adapter, driver package, installation folder, shortcuts).
#include "captured_log.h"
#include "fake_client/adapter.h"
#include "fake_client/common.h"
#include "fake_client/driver_package.h"
#include "fake_client/install_folder.h"
#include "fake_client/pending_renames.h"
#include "footprint/pending_restart.h"
#include "fake_client/services.h"
#include "fake_client/shortcuts.h"
#include "log_lines.h"

#include "mcl/mswin/unique_resource.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <iostream>
#include <vector>

using namespace fltest;
using mcl::mswin::unique_hkey;

namespace {

// The log text from the line `from` up to (not including) the line `to`.
std::string section(const std::string& log, const std::string& from, const std::string& to)
{
    const size_t begin = log.find(from);
    if (begin == std::string::npos)
        return "<no " + from + ">";
    const size_t end = log.find(to, begin);
    return log.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

class RemovalRun : public ::testing::Test {
protected:
    void SetUp() override { remove_footprint(); }
    void TearDown() override { remove_footprint(); }

    void remove_footprint()
    {
        for (const wchar_t* name : fake_client::client_service_names)
            EXPECT_EQ(0u, fake_client::remove_service(name));
        EXPECT_EQ(0u, fake_client::remove_adapters(fake_client::client_adapter_id_list()));
        EXPECT_EQ(0u, fake_client::remove_footprint_infs());
        EXPECT_EQ(0u, fake_client::remove_install_tree(install_folder_));
        EXPECT_EQ(0u, fake_client::unregister_install_dir());
        EXPECT_EQ(0u, fake_client::remove_shortcuts());
    }

    process_output run() const { return run_cleaner(work_.path()); }
    std::string run_log() const { return read_text(work_ / widen(kRunLogName)); }

    const std::wstring install_folder_ = fake_client::default_install_folder();
    const fake_client::shortcut_paths shortcuts_ = fake_client::client_shortcut_paths();
    temp_folder work_;
    temp_folder driver_source_;
};

TEST_F(RemovalRun, ACleanMachinePassesSteps3To7WithTheirNotFoundLines)
{
    const process_output out = run();
    EXPECT_NE(std::string::npos, out.console.find("3.Stopping Ferrolink service..........succeed\n")) << out.console;
    const std::string log = run_log();
    EXPECT_EQ("3.Try to stop and uninstall Ferrolink Service\n"
              "ORVANE_Ferrolink have already uninstalled\n"
              "Orvane_Ferrolink_Service have already uninstalled\n"
              "\tsucceed\n",
              section(log, "3.Try", "4.Try"));
    EXPECT_EQ("4.Try to uninstall Ferrolink Driver\n"
              "\tCould not find device by SetupDiGetDeviceRegistryPropertyA.\n"
              "\tcan not find file in driver store\n",
              section(log, "4.Try", "5.Try"));
    EXPECT_EQ("5.Try to delete Ferrolink files\n"
              "\tCan not find Ferrolink InstallDir in register,try to delete default path\n"
              "\tCannot find [" + narrow(install_folder_) + "] file or folder\n"
              "\tDelete files succeed, lastError:0\n",
              section(log, "5.Try", "6.Try"));
    EXPECT_EQ("7.Try to clean Ferrolink quick link\n"
              "\tCannot find [" + narrow(shortcuts_.program_group) + "] file or folder\n"
              "\tFile [" + narrow(shortcuts_.start_menu) + "] not found or already deleted\n"
              "\tFile [" + narrow(shortcuts_.quick_launch) + "] not found or already deleted\n"
              "\tFile [" + narrow(shortcuts_.desktop) + "] not found or already deleted\n",
              section(log, "7.Try", "8.Check"));
}

TEST_F(RemovalRun, TheClientFootprintIsGoneAfterARun)
{
    fake_client::service_options slow_stop;
    slow_stop.stop_pending_ms = 600;
    for (const wchar_t* name : fake_client::client_service_names)
        ASSERT_EQ(0u, fake_client::install_service(name, slow_stop));
    ASSERT_EQ(0u, fake_client::add_adapter({"orvanefldrv"}));
    const std::string package = "orvanefldrv_" + std::to_string(::GetCurrentProcessId()) + ".inf";
    ASSERT_EQ(0u, fake_client::publish_driver(driver_source_.path(), package, false));
    ASSERT_EQ(0u, fake_client::make_install_tree(install_folder_));
    ASSERT_EQ(0u, fake_client::register_install_dir(install_folder_));
    ASSERT_EQ(0u, fake_client::make_shortcuts(install_folder_ + L"\\Ferrolink.exe"));

    const process_output out = run();
    EXPECT_NE(std::string::npos, out.console.find("3.Stopping Ferrolink service..........succeed\n")) << out.console;
    const std::string log = run_log();
    EXPECT_EQ("3.Try to stop and uninstall Ferrolink Service\n\tsucceed\n", section(log, "3.Try", "4.Try"));
    EXPECT_EQ("4.Try to uninstall Ferrolink Driver\n\tDelete oem file in driver store\n",
              section(log, "4.Try", "5.Try"));
    const std::string files = section(log, "5.Try", "6.Try");
    EXPECT_EQ(std::string::npos, files.find("Can not find Ferrolink InstallDir")) << files;
    EXPECT_NE(std::string::npos,
              files.find("\tTry to delete folder [" + narrow(install_folder_) + "]...succeed\n"
                         "\tDelete files succeed, lastError:0\n"))
        << files;
    const std::string shortcuts = section(log, "7.Try", "8.Check");
    EXPECT_NE(std::string::npos,
              shortcuts.find("\tTry to delete folder [" + narrow(shortcuts_.program_group) + "]...succeed\n"
                             "\tTry to delete file [" + narrow(shortcuts_.start_menu) + "]...succeed\n"
                             "\tTry to delete file [" + narrow(shortcuts_.quick_launch) + "]...succeed\n"
                             "\tTry to delete file [" + narrow(shortcuts_.desktop) + "]...succeed\n"))
        << shortcuts;

    for (const wchar_t* name : fake_client::client_service_names)
        EXPECT_EQ(0u, fake_client::service_state(name)) << narrow(name);
    EXPECT_TRUE(fake_client::find_adapters(fake_client::client_adapter_id_list()).empty());
    EXPECT_FALSE(fake_client::inf_exists(package));
    EXPECT_FALSE(exists(install_folder_));
    EXPECT_TRUE(fake_client::existing_shortcuts().empty());
}

bool machine_value_exists(const std::wstring& path, const wchar_t* name)
{
    unique_hkey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS &&
           ::RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::wstring windows_folder()
{
    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return windows;
}

// Other names for the Windows folder and the profiles root, which the step must not take for the client's.
std::vector<std::wstring> aliased_install_dirs()
{
    const std::wstring windows = windows_folder();
    wchar_t short_name[MAX_PATH] = {};
    std::vector<std::wstring> aliases = {L"\\\\localhost\\C$\\Windows", L"\\\\127.0.0.1\\c$\\users",
                                         windows + L"::$INDEX_ALLOCATION", windows + L"\\System32\\drivers"};
    if (::GetShortPathNameW(windows.c_str(), short_name, MAX_PATH) != 0)
        aliases.push_back(short_name);
    return aliases;
}

// Everything a hostile machine can hold here beside the client's footprint: lookalike fullwidth names in the
// installation folder and the program group, a registry link below the client's key to an unrelated key with
// subkeys, an InstallDir that names a guarded folder by another name. After a whole run only the client's
// footprint is gone, and the log shows the refused InstallDir and the exact names. (Wine can make neither a
// junction nor a read-only link.)
TEST_F(RemovalRun, AHostileMachineLosesOnlyTheClientFootprint)
{
    const std::wstring lookalike_dots = L"\uFF0E\uFF0E\uFF3C";
    const std::wstring vendor = install_folder_.substr(0, install_folder_.find_last_of(L'\\'));
    const std::wstring programs = shortcuts_.program_group.substr(0, shortcuts_.program_group.find_last_of(L'\\'));
    const std::wstring victim = unique_name(L"flvictim");
    const std::wstring target = L"Software\\" + unique_name(L"fltarget");
    const std::wstring product_key = L"Software\\Orvane\\SSL-VPN Ferrolink";
    for (const std::wstring& alias : aliased_install_dirs()) {
        SCOPED_TRACE(narrow(alias));
        for (const std::wstring& bystander : {vendor + L"\\" + victim, programs + L"\\" + victim}) {
            ASSERT_EQ(0u, fake_client::create_folders(bystander));
            write_text(bystander + L"\\keep.txt", "x");
        }
        ASSERT_EQ(0u, fake_client::make_install_tree(install_folder_));
        ASSERT_EQ(0u, fake_client::create_folders(install_folder_ + L"\\" + lookalike_dots + victim));
        ASSERT_EQ(0u, fake_client::make_shortcuts(install_folder_ + L"\\Ferrolink.exe"));
        ASSERT_EQ(0u, fake_client::create_folders(shortcuts_.program_group + L"\\" + lookalike_dots + victim));
        ASSERT_EQ(0u, fake_client::set_install_dir_value(REG_SZ, alias.c_str(),
                                                       static_cast<DWORD>((alias.size() + 1) * sizeof(wchar_t))));
        unique_hkey target_key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (target + L"\\a\\b").c_str(), 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, target_key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(target_key.get(), L"keep", 0, REG_SZ,
                                                  reinterpret_cast<const BYTE*>(L"x"), 2 * sizeof(wchar_t)));
        const machine_link link(product_key + L"\\Standalone\\link", target);
        ASSERT_TRUE(link.made());

        run();
        const std::string log = run_log();
        EXPECT_NE(std::string::npos,
                  section(log, "5.Try", "6.Try")
                      .find("\tCan not find Ferrolink InstallDir in register,try to delete default path\n"))
            << log;
        EXPECT_NE(std::string::npos, log.find("\\\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\xBC" + narrow(victim) + "]...succeed\n")) << log;
        EXPECT_FALSE(exists(install_folder_));
        EXPECT_TRUE(fake_client::existing_shortcuts().empty());
        unique_hkey client;
        EXPECT_NE(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, product_key.c_str(), 0, KEY_READ, client.put()));

        EXPECT_TRUE(exists(vendor + L"\\" + victim + L"\\keep.txt"));
        EXPECT_TRUE(exists(programs + L"\\" + victim + L"\\keep.txt"));
        EXPECT_TRUE(machine_value_exists(target + L"\\a\\b", L"keep"));
        EXPECT_TRUE(exists(windows_folder() + L"\\System32\\drivers"));
        remove_tree(vendor + L"\\" + victim);
        remove_tree(programs + L"\\" + victim);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, target.c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, target.c_str());
    }
}

// What only a restart removes, a service that will not stop and a file of the client in use, is logged so, the
// rest goes, and the successful run ends with the restart notice.
TEST_F(RemovalRun, WhatOnlyARestartRemovesIsLoggedAndTheRestartNoticeFollows)
{
    fake_client::service_options stubborn;
    stubborn.accept_stop = false;
    ASSERT_EQ(0u, fake_client::install_service(fake_client::client_service_names[0], stubborn));
    ASSERT_EQ(0u, fake_client::make_install_tree(install_folder_));
    ASSERT_EQ(0u, fake_client::register_install_dir(install_folder_));
    const std::wstring busy_path = install_folder_ + L"\\FLConfig.ini";
    process_output out;
    std::vector<std::wstring> pending;
    {
        const mcl::mswin::unique_handle busy(
            ::CreateFileW(busy_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(busy);
        out = run();
        pending = ferrolink::paths_pending_deletion();
        EXPECT_EQ(0u, fake_client::forget_pending_renames(install_folder_));
    }
    const std::string rule(77, '=');
    const std::string verdict = "succeed\n\nUninstall Ferrolink succeed\n";
    const std::string notice = "\n" + rule + "\nATTENTIION! Please restart your PC after close this program.\n" + rule;
    const size_t verdict_at = out.console.find(verdict);
    ASSERT_NE(std::string::npos, verdict_at) << out.console;
    EXPECT_EQ(verdict_at + verdict.size(), out.console.find(notice)) << out.console;
    const std::string log = run_log();
    EXPECT_EQ("3.Try to stop and uninstall Ferrolink Service\n"
              "\tORVANE_Ferrolink will be removed when Windows restarts\n"
              "Orvane_Ferrolink_Service have already uninstalled\n"
              "\tsucceed\n",
              section(log, "3.Try", "4.Try"));
    const std::string files = section(log, "5.Try", "6.Try");
    EXPECT_NE(std::string::npos, files.find("\tFile [" + narrow(busy_path) +
                                            "] is in use, it will be deleted when Windows restarts\n"))
        << files;
    EXPECT_TRUE(ends_with(files, "\tDelete files succeed, lastError:0\n")) << files;
    EXPECT_EQ(std::vector<std::wstring>{L"FLConfig.ini"}, fake_client::list_tree(install_folder_));
    EXPECT_NE(pending.end(), std::find(pending.begin(), pending.end(), busy_path));
}

// The first `bytes` bytes of a file, exactly as stored.
std::string read_head(const std::wstring& path, DWORD bytes)
{
    const mcl::mswin::unique_handle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string head(bytes, '\0');
    DWORD got = 0;
    if (!file || !::ReadFile(file.get(), &head[0], bytes, &got, nullptr))
        return std::string();
    head.resize(got);
    return head;
}

// Every shipped program is relocatable with a high-entropy address space, keeps data non-executable and is
// terminal-server aware. A program not built in this tree is reported and passed over.
TEST(ShippedPrograms, CarryThePeSecurityFlags)
{
    const WORD wanted = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                        IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA | IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
    for (const wchar_t* program : {L"FerrolinkCleaner.exe", L"OVClientHelperCLI.exe", L"FerrolinkAudit.exe"}) {
        SCOPED_TRACE(narrow(program));
        const std::wstring path = bin_path(program);
        if (!exists(path)) {
            std::cout << narrow(program) << " is not built here; not checked\n";
            continue;
        }
        const std::string image = read_head(path, 4096);
        ASSERT_GE(image.size(), sizeof(IMAGE_DOS_HEADER));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
        ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
        ASSERT_GE(image.size(), static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64));
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
        ASSERT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), nt->Signature);
        ASSERT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt->OptionalHeader.Magic);
        EXPECT_EQ(wanted, nt->OptionalHeader.DllCharacteristics & wanted);
    }
}

} // namespace
