// Step 6 on what Windows Installer keeps beside a product's keys (patches, cached packages, the product's own
// folder, Installer\Folders, SharedDLLs) and on per-user installations, with the client's real packages where
// wixl can build them and keys written as Windows writes them where it cannot (patches, managed installations).
#include "audit/checks.h"
#include "captured_log.h"
#include "cleaner/steps/registry_data.h"
#include "cleaner/steps/registry_data_other_users.h"
#include "fake_client/install_folder.h"
#include "log_lines.h"
#include "registry_test_support.h"

#include <msi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace fltest;

namespace {

const std::wstring kPackedUpgrade = kClientPackage.packed_upgrade;
const std::wstring kPacked = kClientPackage.packed_product;
const std::wstring kFolders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
const std::wstring kUserDataRoot = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\";
const std::wstring kUpgradeIndex =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\" + kPackedUpgrade;
const std::wstring kClassesPatches = L"SOFTWARE\\Classes\\Installer\\Patches\\";
const std::wstring kPatch1 = L"F1E2D3C4B5A69788796A5B4C3D2E1F01";
const std::wstring kPatch2 = L"F1E2D3C4B5A69788796A5B4C3D2E1F02";

std::wstring installer_folder()
{
    return windows_folder() + L"\\Installer\\";
}

std::wstring patch_package(const std::wstring& patch)
{
    return installer_folder() + L"fltest" + patch.substr(30) + L".msp";
}

// A patch applied to the product as Windows registers it: in the product's registration, in the classes, and in
// the user data with its cached package.
void apply_patch(const std::wstring& packed_product, const std::wstring& patch)
{
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, kUserDataProducts + packed_product + L"\\Patches\\" + patch,
                           L"DisplayName", L"Hotfix"));
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, kClassesPatches + patch, L"PackageName", L"hotfix.msp"));
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, kUserData + L"Patches\\" + patch, L"LocalPackage",
                           patch_package(patch)));
    write_text(patch_package(patch), "patch");
}

void remove_patch(const std::wstring& patch)
{
    delete_tree(HKEY_LOCAL_MACHINE, kClassesPatches + patch);
    delete_tree(HKEY_LOCAL_MACHINE, kUserData + L"Patches\\" + patch);
    ::DeleteFileW(patch_package(patch).c_str());
}

// A key below `base` whose path is too long for the deleter, which then leaves `base` too.
std::wstring undeletable_below(const std::wstring& base)
{
    std::wstring deep = base;
    for (wchar_t level : {L'a', L'b', L'c'})
        deep += L"\\" + std::wstring(200, level);
    return create_key(HKEY_LOCAL_MACHINE, deep) ? deep : std::wstring();
}

std::vector<std::string> counted_present(const audit::audit_items& items)
{
    std::vector<std::string> present;
    for (const audit::audit_item& item : items) {
        if (item.counted && item.state != audit::item_state::absent)
            present.push_back(item.id.empty() ? item.name : item.id);
    }
    return present;
}

// A fleet cleans a broken client to install it again: after the clean nothing of its registration is left, not its
// own Installer folder nor its entries in Installer\Folders, and msiexec installs it again, registered once.
TEST(InstallerReinstall, TheCleanedClientInstallsAgainAndIsRegisteredOnce)
{
    installed_msi client(kClientPackage);
    ASSERT_TRUE(client.installed());
    const std::wstring own_folder = installer_folder() + kClientPackage.product_code;
    ASSERT_TRUE(exists(own_folder + L"\\Ferrolink.ico"));
    const std::wstring entries[] = {own_folder + L"\\", fake_client::default_install_folder() + L"\\Bin\\",
                                    L"C:\\FlTestOther\\"};
    for (const std::wstring& entry : entries)
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, kFolders, entry, L""));

    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    const std::string text = log.text();
    EXPECT_EQ(std::vector<std::string>{"\tInstaller folder [" + narrow(own_folder) + "] deleted."},
              lines_starting_with(text, "\tInstaller folder ["));
    EXPECT_EQ(2u, lines_starting_with(text, "\tInstaller folder entry [").size()) << text;
    EXPECT_FALSE(exists(own_folder));
    EXPECT_FALSE(value_exists(HKEY_LOCAL_MACHINE, kFolders, entries[0]));
    EXPECT_FALSE(value_exists(HKEY_LOCAL_MACHINE, kFolders, entries[1]));
    EXPECT_TRUE(value_exists(HKEY_LOCAL_MACHINE, kFolders, entries[2]));
    EXPECT_EQ(std::vector<std::string>(), counted_present(audit::check_installer_registration()));

    const process_output again =
        run_process(L"msiexec /i \"" + bin_path(L"msi\\") + kClientPackage.file + L"\" /qn");
    EXPECT_EQ(0u, again.exit_code) << again.console;
    EXPECT_EQ(INSTALLSTATE_DEFAULT, ::MsiQueryProductStateW(kClientPackage.product_code));
    int registered = 0;
    wchar_t code[39] = {};
    for (DWORD index = 0; ::MsiEnumProductsExW(nullptr, nullptr, MSIINSTALLCONTEXT_ALL, index, code, nullptr,
                                                nullptr, nullptr) == ERROR_SUCCESS;
         ++index)
        registered += std::wstring(code) == kClientPackage.product_code;
    EXPECT_EQ(1, registered);
    const unique_hkey folders = open_key(HKEY_LOCAL_MACHINE, kFolders, KEY_SET_VALUE);
    ::RegDeleteValueW(folders.get(), entries[2].c_str());
}

// A key of the registration that cannot be deleted leaves the product (or the patch) registered: what Windows
// Installer needs to repair, remove or upgrade it stays with it, and the step fails.
TEST(InstallerKeysLeft, WhatStaysRegisteredKeepsItsCachedPackageAndFailsTheStep)
{
    const struct {
        const char* what;
        std::wstring stuck_below;
        bool product_package_kept;
        std::string line;
    } cases[] = {
        {"the product's user data", kUserDataProducts + kPacked, true, ""},
        {"a patch's registration", kUserData + L"Patches\\" + kPatch1, false,
         "\tPatch [" + narrow(kPatch1) + "] still registered, its package kept"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        installed_msi client(kClientPackage);
        ASSERT_TRUE(client.installed());
        ASSERT_NO_FATAL_FAILURE(apply_patch(kPacked, kPatch1));
        const std::wstring package = cached_package_of(kClientPackage);
        const std::wstring stuck = undeletable_below(test.stuck_below);
        ASSERT_FALSE(stuck.empty());

        captured_log log;
        EXPECT_EQ(0, cleaner::delete_registry_data(false));
        const std::string text = log.text();
        EXPECT_TRUE(ends_with(text, "\tfailed\n")) << text;
        const std::string line = test.product_package_kept
                                     ? "\tCached package [" + narrow(package) + "] kept: the product is still "
                                                                                "registered"
                                     : test.line;
        EXPECT_EQ(std::vector<std::string>{line}, lines_starting_with(text, line)) << text;
        EXPECT_EQ(test.product_package_kept, exists(package));
        EXPECT_TRUE(exists(patch_package(kPatch1)));
        // Windows Installer's index stays too: it leads the next run to what is left.
        EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, kUpgradeIndex));
        delete_tree(HKEY_LOCAL_MACHINE, test.stuck_below);
        remove_patch(kPatch1);
    }
}

// Of the client's patches, the one only the client uses goes with its package; one that another product also
// lists stays whole.
TEST(InstallerPatches, TheClientsOwnPatchGoesAndOneAnotherProductUsesStays)
{
    installed_msi client(kClientPackage);
    installed_msi companion(kCompanionPackage);
    ASSERT_TRUE(client.installed() && companion.installed());
    for (const std::wstring& patch : {kPatch1, kPatch2})
        ASSERT_NO_FATAL_FAILURE(apply_patch(kPacked, patch));
    ASSERT_NO_FATAL_FAILURE(apply_patch(kCompanionPackage.packed_product, kPatch2));
    const std::string own_patch_id =
        "installer:" + narrow(kClientPackage.product_code) + ":patch:{4C3D2E1F-6A5B-8879-97A6-B5C4D3E2F110}";
    const std::vector<std::string> before = counted_present(audit::check_installer_registration());
    EXPECT_NE(before.end(), std::find(before.begin(), before.end(), own_patch_id)) << ::testing::PrintToString(before);

    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    const std::vector<std::string> lines = {
        "\tPatch [" + narrow(kPatch1) + "] deleted.",
        "\tPatch [" + narrow(kPatch2) + "] left: another product still uses it",
    };
    EXPECT_EQ(lines, lines_starting_with(log.text(), "\tPatch ["));
    EXPECT_EQ(1u, lines_starting_with(log.text(), "\tCached patch package [" + narrow(patch_package(kPatch1)) +
                                                      "] deleted.")
                      .size());
    for (const std::wstring& key : {kClassesPatches, kUserData + L"Patches\\"}) {
        EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, key + kPatch1)) << narrow(key);
        EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, key + kPatch2)) << narrow(key);
    }
    EXPECT_FALSE(exists(patch_package(kPatch1)));
    EXPECT_TRUE(exists(patch_package(kPatch2)));
    for (const std::wstring& patch : {kPatch1, kPatch2})
        remove_patch(patch);
}

// The client's share of a shared file's SharedDLLs count goes only where the client was the component's last
// product; a count another installer also holds goes down by one; a file another product still uses keeps it.
TEST(SharedDlls, TheClientsCountGoesAndAFileAnotherProductUsesKeepsItsCount)
{
    const struct {
        const char* what;
        bool companion;
        DWORD legacy_counts;
        bool value_left;
        int change;
    } cases[] = {
        {"the client alone", false, 0, false, -1},
        {"the client and a legacy installer", false, 2, true, -1},
        {"the client and the companion", true, 0, true, 0},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        installed_msi client(kClientPackage);
        std::unique_ptr<installed_msi> companion;
        if (test.companion)
            companion = std::make_unique<installed_msi>(kCompanionPackage);
        ASSERT_TRUE(client.installed() && (!companion || companion->installed()));
        DWORD count = 0;
        DWORD size = sizeof(count);
        ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_LOCAL_MACHINE, kSharedDlls.c_str(), kSharedLibraryFile,
                                                RRF_RT_REG_DWORD, nullptr, &count, &size));
        count += test.legacy_counts;
        ASSERT_TRUE(set_raw(HKEY_LOCAL_MACHINE, kSharedDlls, kSharedLibraryFile, REG_DWORD, &count, sizeof(count)));

        captured_log log;
        EXPECT_EQ(1, cleaner::delete_registry_data(false));
        DWORD left = 0;
        size = sizeof(left);
        const bool value_left = ::RegGetValueW(HKEY_LOCAL_MACHINE, kSharedDlls.c_str(), kSharedLibraryFile,
                                               RRF_RT_REG_DWORD, nullptr, &left, &size) == ERROR_SUCCESS;
        EXPECT_EQ(test.value_left, value_left);
        if (value_left) {
            EXPECT_EQ(static_cast<int>(count) + test.change, static_cast<int>(left));
        }
        EXPECT_EQ(test.change == 0 ? 0u : 1u, lines_starting_with(log.text(), "\tShared DLL count [").size());
    }
}

// Per-user installations of any kind go, found by what the machine's own records say; a product that only the
// user's own hive calls the client's is not taken for it.
TEST(UserInstallations, TheClientsPerUserInstallationsGoAndANameInTheUsersHiveLeadsNowhere)
{
    const std::wstring sid = own_sid();
    ASSERT_FALSE(sid.empty());
    const std::wstring managed = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed\\" + sid +
                                 L"\\Installer\\";
    const std::wstring user_products = kUserDataRoot + sid + L"\\Products\\";
    const std::wstring decoy = L"0000ABCD0000ABCD0000ABCD0000ABCD";
    const std::wstring decoy_package = installer_folder() + L"fltestdecoy.msi";
    const std::wstring managed_package = installer_folder() + L"fltestmanaged.msi";
    // The decoy: another product of this user whose registration in the hive carries the client's name.
    ASSERT_TRUE(set_string(HKEY_CURRENT_USER, L"Software\\Microsoft\\Installer\\Products\\" + decoy, L"ProductName",
                           L"Orvane Ferrolink"));
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, user_products + decoy + L"\\InstallProperties", L"LocalPackage",
                           decoy_package));
    write_text(decoy_package, "decoy");

    const struct {
        const char* what;
        bool managed;
    } cases[] = {{"unmanaged, installed with msiexec", false}, {"managed, assigned to the user", true}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        std::unique_ptr<installed_msi> installed;
        if (test.managed) {
            ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, managed + L"Products\\" + kPacked, L"ProductName",
                                   L"Orvane Ferrolink"));
            ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, managed + L"Features\\" + kPacked, L"Main", L""));
            ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, user_products + kPacked + L"\\InstallProperties",
                                   L"LocalPackage", managed_package));
            write_text(managed_package, "managed");
        } else {
            installed = std::make_unique<installed_msi>(kPerUserPackage);
            ASSERT_TRUE(installed->installed());
            ASSERT_TRUE(key_exists(HKEY_CURRENT_USER, L"Software\\Microsoft\\Installer\\Products\\" + kPacked));
        }
        const std::wstring package = cached_package_of(kPerUserPackage);
        ASSERT_TRUE(exists(package));
        const std::string id = "installer:" + narrow(kClientPackage.product_code) + ":user:" + narrow(sid);
        const std::vector<std::string> before = counted_present(audit::check_installer_registration());
        EXPECT_NE(before.end(), std::find(before.begin(), before.end(), id));

        captured_log log;
        EXPECT_EQ(1, cleaner::delete_registry_data(false));
        EXPECT_EQ(1u, lines_starting_with(log.text(), "\tUser installation [" + narrow(sid) + "] GUID:").size());
        EXPECT_FALSE(exists(package));
        for (const std::wstring& key : {managed + L"Products\\" + kPacked, managed + L"Features\\" + kPacked,
                                        user_products + kPacked})
            EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, key)) << narrow(key);
        for (const std::wstring& kind : {L"Products\\" + kPacked, L"UpgradeCodes\\" + kPackedUpgrade})
            EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Microsoft\\Installer\\" + kind)) << narrow(kind);
        EXPECT_EQ(INSTALLSTATE_UNKNOWN, ::MsiQueryProductStateW(kClientPackage.product_code));
        EXPECT_EQ(std::vector<std::string>(), counted_present(audit::check_installer_registration()));
        EXPECT_TRUE(exists(decoy_package));
    }
    delete_tree(HKEY_CURRENT_USER, L"Software\\Microsoft\\Installer\\Products\\" + decoy);
    delete_tree(HKEY_LOCAL_MACHINE, user_products + decoy);
    ::DeleteFileW(decoy_package.c_str());
}

// A user can keep a key of their own installation growing while step 6 deletes it: the deletion stops at the
// bound a user's client key has, the installation keeps its package, and the step fails.
TEST(UserInstallations, AKeyInTheUsersHiveBeyondTheBoundIsLeftUnfinishedAndFailsTheStep)
{
    const std::wstring sid = own_sid();
    ASSERT_FALSE(sid.empty());
    const std::wstring managed = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed\\" + sid +
                                 L"\\Installer\\Products\\" + kPacked;
    const std::wstring user_product = kUserDataRoot + sid + L"\\Products\\" + kPacked;
    const std::wstring own = L"Software\\Microsoft\\Installer\\Products\\" + kPacked;
    const std::wstring package = installer_folder() + L"fltestbound.msi";
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, managed, L"ProductName", L"Orvane Ferrolink"));
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, user_product + L"\\InstallProperties", L"LocalPackage", package));
    ::CreateDirectoryW(installer_folder().c_str(), nullptr);
    write_text(package, "managed");
    ASSERT_TRUE(exists(package));
    ASSERT_TRUE(create_subkeys(HKEY_CURRENT_USER, own, cleaner::kUserKeyMostKeys + 1));

    captured_log log;
    EXPECT_EQ(0, cleaner::delete_registry_data(false));
    const std::string bound = std::to_string(cleaner::kUserKeyMostKeys);
    const std::string line = "\t[HKU\\" + narrow(sid) + "\\" + narrow(own) + "] unfinished after " + bound +
                             " keys (bound: " + bound + " keys or 30 s)";
    EXPECT_EQ(std::vector<std::string>{line}, lines_starting_with(log.text(), line)) << log.text();
    EXPECT_TRUE(ends_with(log.text(), "\tfailed\n"));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, own));
    EXPECT_TRUE(exists(package));
    delete_tree(HKEY_CURRENT_USER, own);
    delete_tree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed\\" + sid);
    delete_tree(HKEY_LOCAL_MACHINE, user_product);
    ::DeleteFileW(package.c_str());
}

// An account whose profile is gone from the machine leaves only the machine's records of its installation: they
// go with the cached package, and the step does not fail for a hive that is no longer there.
TEST(UserInstallations, OneOfAnAccountWithoutAProfileLosesItsMachineRecords)
{
    const std::wstring sid = L"S-1-12-1-1111-2222-3333-4444";
    const std::wstring managed =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed\\" + sid + L"\\Installer\\";
    const std::wstring user_product = kUserDataRoot + sid + L"\\Products\\" + kPacked;
    const std::wstring package = installer_folder() + L"fltestgone.msi";
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, managed + L"Products\\" + kPacked, L"ProductName", L"Orvane Ferrolink"));
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, user_product + L"\\InstallProperties", L"LocalPackage", package));
    ::CreateDirectoryW(installer_folder().c_str(), nullptr);
    write_text(package, "managed");
    ASSERT_TRUE(exists(package));

    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false)) << log.text();
    const std::string line = "\tUser installation [" + narrow(sid) + "]: no profile on this machine";
    EXPECT_EQ(1u, lines_starting_with(log.text(), line).size()) << log.text();
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, managed + L"Products\\" + kPacked));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, user_product));
    EXPECT_FALSE(exists(package));
    delete_tree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed\\" + sid);
    delete_tree(HKEY_LOCAL_MACHINE, kUserDataRoot + sid);
    ::DeleteFileW(package.c_str());
}

} // namespace
