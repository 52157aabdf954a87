#include "captured_log.h"
#include "cleaner/steps/registry_data.h"
#include "cleaner/mechanisms/registry_tree.h"
#include "fake_client/registry_footprint.h"
#include "log_lines.h"
#include "registry_test_support.h"

#include <msi.h>

#include <gtest/gtest.h>

using namespace fltest;

namespace {

using row_key = fake_client::registry_key;

// The client's own keys in the order the cleanup takes them, written down apart from the cleaner's own list.
const row_key (&kClientRows)[12] = fake_client::client_registry_keys;

const std::wstring kProductKey = L"Software\\Orvane\\SSL-VPN Ferrolink";

class RegistryCleanup : public ::testing::Test {
protected:
    void SetUp() override { remove_client_keys(); }
    void TearDown() override
    {
        remove_client_keys();
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Orvane");
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Orvane");
    }

    static void remove_client_keys()
    {
        for (const row_key& row : kClientRows)
            delete_tree(row.root, row.path);
    }

    // The product key as the client leaves it: settings, and profiles beside other standalone data.
    static void write_product_key(const wchar_t* profiles_name)
    {
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, kProductKey, L"InstallDir", L"C:\\Program Files\\Orvane"));
        ASSERT_TRUE(create_key(HKEY_LOCAL_MACHINE, kProductKey + L"\\Standalone\\" + profiles_name + L"\\Home"));
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, kProductKey + L"\\Standalone\\Other", L"Last", L"vpn"));
    }
};

// Only automatic mode keeps saved profiles, and only under "Profiles" spelt exactly so; the standalone key
// above them is then the one failure reported.
TEST_F(RegistryCleanup, ProfilesAreKeptOnlyInAutomaticModeAndOnlyUnderTheirExactName)
{
    const struct {
        const wchar_t* profiles_name;
        bool automatic;
        bool kept;
    } cases[] = {{L"Profiles", true, true}, {L"Profiles", false, false}, {L"profiles", true, false}};
    for (const auto& test : cases) {
        SCOPED_TRACE(narrow(test.profiles_name) + (test.automatic ? " automatic" : " interactive"));
        write_product_key(test.profiles_name);
        captured_log log;
        EXPECT_EQ(1, cleaner::delete_registry_data(test.automatic));
        EXPECT_EQ(test.kept, key_exists(HKEY_LOCAL_MACHINE, kProductKey + L"\\Standalone\\Profiles\\Home"));
        EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, kProductKey + L"\\Standalone\\Other"));
        EXPECT_EQ(test.kept, key_exists(HKEY_LOCAL_MACHINE, kProductKey));
        const std::string text = log.text();
        const std::vector<std::string> standalone_failure = {
            "\tFail to delete reg key [Software\\Orvane\\SSL-VPN Ferrolink\\Standalone], lastError:5"};
        EXPECT_EQ(test.kept ? standalone_failure : std::vector<std::string>(),
                  lines_starting_with(text, "\tFail"));
        EXPECT_TRUE(lines_starting_with(text, "\t[").empty()) << text;
        remove_client_keys();
    }
}

TEST_F(RegistryCleanup, DeletesEveryClientKeySilently)
{
    // Where the 32-bit App Paths key is the shared 64-bit one (Wine), row 10 has gone with row 4 when reached.
    ASSERT_TRUE(create_key(kClientRows[3].root, kClientRows[3].path));
    const bool app_paths_shared = key_exists(kClientRows[9].root, kClientRows[9].path);
    const std::string expected =
        (app_paths_shared ? "\tRegOpenKeyEx, Key [" + narrow(kClientRows[9].path) + "] uninstalled succeed.\n"
                          : std::string()) +
        "\tsucceed\n";
    for (const row_key& row : kClientRows) {
        ASSERT_TRUE(set_string(row.root, row.path, L"", L"x"));
        ASSERT_TRUE(create_key(row.root, std::wstring(row.path) + L"\\sub\\deeper"));
    }
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    for (const row_key& row : kClientRows)
        EXPECT_FALSE(key_exists(row.root, row.path)) << narrow(row.path);
    EXPECT_EQ(expected, log.text());
}

TEST_F(RegistryCleanup, AbsentKeysAreReportedInRowOrder)
{
    std::string expected;
    for (const row_key& row : kClientRows)
        expected += "\tRegOpenKeyEx, Key [" + narrow(row.path) + "] uninstalled succeed.\n";
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    EXPECT_EQ(expected + "\tsucceed\n", log.text());
}

TEST_F(RegistryCleanup, ARowThatCannotBeDeletedIsReportedAndTheNextRowsStillGo)
{
    const std::wstring run_key = kClientRows[1].path;
    std::wstring deep = run_key;
    for (int level = 0; level < 3; ++level)
        deep += L"\\" + std::wstring(200, static_cast<wchar_t>(L'a' + level));
    ASSERT_GE(deep.size(), cleaner::kKeyPathBuffer);
    ASSERT_TRUE(create_key(HKEY_LOCAL_MACHINE, deep));
    ASSERT_TRUE(create_key(HKEY_LOCAL_MACHINE, kClientRows[2].path));

    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    const std::string text = log.text();
    EXPECT_EQ(std::vector<std::string>{"\t[" + narrow(run_key) +
                                       "] still under protection or not exist, can not delete."},
              lines_starting_with(text, "\t["));
    EXPECT_EQ(4u, lines_starting_with(text, "\tFail to delete reg key [").size()) << text;
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, deep));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, kClientRows[2].path));
}

struct installer_key {
    HKEY root;
    std::wstring path;
};

// The installer keys of the client's package that the cleanup deletes by product code.
std::vector<installer_key> installer_keys()
{
    const std::wstring code = kClientPackage.product_code;
    const std::wstring packed = kClientPackage.packed_product;
    const std::wstring upgrade = kClientPackage.packed_upgrade;
    return {
        {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code},
        {HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Features\\" + packed},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Products\\" + packed},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\" + upgrade},
        {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\UpgradeCodes\\" + upgrade},
        {HKEY_CLASSES_ROOT, L"Installer\\Products\\" + packed},
        {HKEY_CLASSES_ROOT, L"Installer\\Features\\" + packed},
        {HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes\\" + upgrade},
        {HKEY_LOCAL_MACHINE, kUserDataProducts + packed},
    };
}

TEST_F(RegistryCleanup, RemovesTheInstalledProductsRegistrationButNotItsNeighbours)
{
    installed_msi client(kClientPackage);
    installed_msi companion(kCompanionPackage);
    ASSERT_TRUE(client.installed() && companion.installed());
    const std::vector<installer_key> keys = installer_keys();
    ASSERT_TRUE(key_exists(keys[0].root, keys[0].path));
    ASSERT_TRUE(key_exists(keys[6].root, keys[6].path));
    const std::wstring own_component = kComponentsKey + kClientComponent;
    const std::wstring shared_component = kComponentsKey + kSharedComponent;
    ASSERT_TRUE(value_exists(HKEY_LOCAL_MACHINE, own_component, kClientPackage.packed_product));
    ASSERT_TRUE(value_exists(HKEY_LOCAL_MACHINE, shared_component, kClientPackage.packed_product));

    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    const std::string text = log.text();
    EXPECT_EQ(std::vector<std::string>{"\tGUID:5C2E8A14-7B3D-4F60-9A1E-2D4C6B8F0A31,S_GUID:"
                                       "41A8E2C5D3B706F4A9E1D2C4B6F8A013"},
              lines_starting_with(text, "\tGUID:"));
    EXPECT_TRUE(lines_starting_with(text, "\tFail").empty()) << text;
    EXPECT_TRUE(lines_starting_with(text, "\t[").empty()) << text;
    for (const installer_key& key : keys)
        EXPECT_FALSE(key_exists(key.root, key.path)) << narrow(key.path);
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, own_component));
    EXPECT_FALSE(value_exists(HKEY_LOCAL_MACHINE, shared_component, kClientPackage.packed_product));
    EXPECT_TRUE(value_exists(HKEY_LOCAL_MACHINE, shared_component, kCompanionPackage.packed_product));
    EXPECT_EQ(INSTALLSTATE_DEFAULT, ::MsiQueryProductStateW(kCompanionPackage.product_code));
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, std::wstring(L"Installer\\Products\\") +
                                                  kCompanionPackage.packed_product));
    EXPECT_FALSE(cleaner::restart_required);
}

} // namespace
