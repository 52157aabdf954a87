// Steps 6 and 7 on what a real machine keeps beyond the fixed rows: the Run values, the installer registration
// of a run that stopped half way, and other users' profiles. The audit looks before and after each.
#include "audit/checks.h"
#include "captured_log.h"
#include "cleaner/steps/install_folder.h"
#include "cleaner/steps/registry_data_other_users.h"
#include "cleaner/steps/registry_data.h"
#include "cleaner/steps/shortcuts.h"
#include "footprint/footprint.h"
#include "log_lines.h"
#include "registry_test_support.h"
#include "fake_client/common.h"

#include <msi.h>

#include <gtest/gtest.h>

using namespace fltest;

namespace {

const audit::audit_item* find_item(const audit::audit_items& items, const std::string& name_part)
{
    for (const audit::audit_item& item : items) {
        if (item.name.find(name_part) != std::string::npos)
            return &item;
    }
    return nullptr;
}

// The state of the item named with `name_part`; unchecked when there is none.
audit::item_state state_of(const audit::audit_items& items, const std::string& name_part)
{
    const audit::audit_item* item = find_item(items, name_part);
    return item ? item->state : audit::item_state::unchecked;
}

std::vector<std::string> counted_items_present(const audit::audit_items& items)
{
    std::vector<std::string> present;
    for (const audit::audit_item& item : items) {
        if (item.counted && item.state != audit::item_state::absent)
            present.push_back(item.name);
    }
    return present;
}

const std::wstring kRun = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kRun32 = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

void delete_value(HKEY root, const std::wstring& path, const wchar_t* name)
{
    const unique_hkey key = open_key(root, path, KEY_SET_VALUE);
    if (key)
        ::RegDeleteValueW(key.get(), name);
}

// The client's autostart entries are values of the Run keys: those with its names, spelt exactly, go in both views;
// every other value stays.
TEST(RunValues, TheClientsValuesGoInBothViewsAndOtherValuesStay)
{
    const struct {
        const std::wstring& key;
        const wchar_t* name;
        bool clients;
    } values[] = {{kRun, L"OrvaneFerrolink", true},  {kRun, L"OrvaneFLIdle", true},  {kRun, L"FlTestOther", false},
                  {kRun32, L"OrvaneFerrolink", true}, {kRun32, L"orvaneflidle", false}, {kRun32, L"FlTestOther", false}};
    for (const auto& value : values)
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, value.key, value.name, L"C:\\x.exe"));
    const audit::audit_items before = audit::check_client_keys();
    const auto run_value = [](const std::wstring& key, const wchar_t* name) {
        return "Run value HKLM\\" + narrow(key + L"\\" + name);
    };
    EXPECT_EQ(audit::item_state::present, state_of(before, run_value(kRun, L"OrvaneFLIdle")));
    EXPECT_EQ(audit::item_state::present, state_of(before, run_value(kRun32, L"OrvaneFerrolink")));
    EXPECT_EQ(audit::item_state::absent, state_of(before, run_value(kRun32, L"OrvaneFLIdle")));

    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    const std::vector<std::string> deleted = {
        "\tRun value [" + narrow(kRun) + "\\OrvaneFerrolink] deleted.",
        "\tRun value [" + narrow(kRun) + "\\OrvaneFLIdle] deleted.",
        "\tRun value [" + narrow(kRun32) + "\\OrvaneFerrolink] deleted.",
    };
    EXPECT_EQ(deleted, lines_starting_with(log.text(), "\tRun value"));
    for (const auto& value : values)
        EXPECT_EQ(!value.clients, value_exists(HKEY_LOCAL_MACHINE, value.key, value.name)) << narrow(value.name);
    for (const audit::audit_item& item : audit::check_client_keys()) {
        if (item.name.compare(0, 10, "Run value ") == 0) {
            EXPECT_EQ(audit::item_state::absent, item.state) << item.name;
        }
    }
    for (const auto& value : values)
        delete_value(HKEY_LOCAL_MACHINE, value.key, value.name);
}

// A 32-bit client keeps its product key in the 32-bit view: InstallDir is read there when the 64-bit view has
// none, and the key goes like row 1, its saved profiles kept by an unattended run.
TEST(ClientKey32, InstallDirIsReadThereAndTheKeyGoesLikeRow1)
{
    const std::wstring key = L"Software\\Wow6432Node\\Orvane\\SSL-VPN Ferrolink";
    const std::wstring folder = L"C:\\FlTest32\\Ferrolink";
    ASSERT_FALSE(key_exists(HKEY_LOCAL_MACHINE, L"Software\\Orvane\\SSL-VPN Ferrolink"));
    ASSERT_EQ(0u, fake_client::create_folders(folder));
    write_text(folder + L"\\FLGui.exe", "x");
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, key + L"\\Standalone", L"InstallDir", folder));
    ASSERT_TRUE(create_key(HKEY_LOCAL_MACHINE, key + L"\\Standalone\\Profiles\\Home"));
    ASSERT_TRUE(create_key(HKEY_LOCAL_MACHINE, key + L"\\Standalone\\Session"));
    const audit::audit_items before = audit::check_install_folder();
    const audit::audit_item* install_dir = find_item(before, "InstallDir in HKLM\\" + narrow(key));
    ASSERT_NE(nullptr, install_dir);
    EXPECT_EQ(narrow(folder), install_dir->detail);
    {
        captured_log log;
        EXPECT_EQ(1, cleaner::delete_files());
        EXPECT_EQ(1, cleaner::delete_registry_data(true));
        const std::string text = log.text();
        EXPECT_EQ(std::vector<std::string>{"\tDelete files succeed, lastError:0"},
                  lines_starting_with(text, "\tDelete files"));
        EXPECT_EQ(std::vector<std::string>{"\tFail to delete reg key [" + narrow(key) + "\\Standalone], lastError:5"},
                  lines_starting_with(text, "\tFail"));
        EXPECT_TRUE(lines_starting_with(text, "\t[").empty()) << text;
    }
    EXPECT_FALSE(exists(folder));
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, key + L"\\Standalone\\Profiles\\Home"));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, key + L"\\Standalone\\Session"));
    const audit::audit_item* kept = find_item(audit::check_client_keys(), "row 1 (32-bit view)");
    ASSERT_NE(nullptr, kept);
    EXPECT_EQ(audit::item_state::present, kept->state);
    EXPECT_FALSE(kept->counted);
    {
        captured_log log;
        EXPECT_EQ(1, cleaner::delete_registry_data(false));
    }
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, key));
    remove_tree(L"C:\\FlTest32");
    delete_tree(HKEY_LOCAL_MACHINE, key);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Orvane");
}

// A run that stopped half way leaves the product's other rows where neither the related-products query (which
// reads the index) nor the upgrade-code keys lead any more. The product is still found, by its name or by the
// upgrade-code key left, and all of its registration and its cached package go.
TEST(HalfCleanedInstaller, TheProductIsFoundAndRemovedFromWhateverRecordIsLeft)
{
    const std::wstring upgrade = kClientPackage.packed_upgrade;
    const std::wstring packed = kClientPackage.packed_product;
    const std::wstring classes_upgrade = L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\" + upgrade;
    const std::wstring index = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\" + upgrade;
    const std::wstring products = L"SOFTWARE\\Classes\\Installer\\Products\\" + packed;
    const struct {
        const char* found_by;
        std::vector<std::wstring> deleted_by_hand;
    } cases[] = {
        {"its name (rows 17 and 21 and the index gone)", {classes_upgrade, index}},
        {"the upgrade-code key (rows 16 and 19 and the index gone)", {products, index}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.found_by);
        installed_msi client(kClientPackage);
        ASSERT_TRUE(client.installed());
        const std::wstring properties = kUserDataProducts + packed + L"\\InstallProperties";
        wchar_t cached[MAX_PATH] = {};
        DWORD size = sizeof(cached) - sizeof(wchar_t);
        ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_LOCAL_MACHINE, properties.c_str(), L"LocalPackage",
                                                RRF_RT_REG_SZ, nullptr, cached, &size));
        ASSERT_TRUE(exists(cached));
        for (const std::wstring& key : test.deleted_by_hand)
            delete_tree(HKEY_LOCAL_MACHINE, key);
        wchar_t related[40] = {};
        ASSERT_NE(ERROR_SUCCESS, ::MsiEnumRelatedProductsW(ferrolink::upgrade_code, 0, 0, related));

        const audit::audit_items before = audit::check_installer_registration();
        EXPECT_EQ(audit::item_state::present, state_of(before, "row 22 HKLM\\" + narrow(kUserDataProducts + packed)));
        EXPECT_EQ(audit::item_state::present, state_of(before, "cached package " + narrow(cached)));

        captured_log log;
        EXPECT_EQ(1, cleaner::delete_registry_data(false));
        const std::string text = log.text();
        EXPECT_EQ(std::vector<std::string>{"\tGUID:5C2E8A14-7B3D-4F60-9A1E-2D4C6B8F0A31,S_GUID:" + narrow(packed)},
                  lines_starting_with(text, "\tGUID:"));
        EXPECT_EQ(std::vector<std::string>{"\tCached package [" + narrow(cached) + "] deleted."},
                  lines_starting_with(text, "\tCached package"));
        EXPECT_TRUE(lines_starting_with(text, "\tFail").empty()) << text;
        EXPECT_TRUE(lines_starting_with(text, "\t[").empty()) << text;
        EXPECT_FALSE(exists(cached));
        for (const std::wstring& key :
             {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + std::wstring(kClientPackage.product_code),
              L"SOFTWARE\\Classes\\Installer\\Features\\" + packed, products, classes_upgrade, index,
              kUserDataProducts + packed, kComponentsKey + kClientComponent})
            EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, key)) << narrow(key);
        EXPECT_EQ(std::vector<std::string>(), counted_items_present(audit::check_installer_registration()));
    }
}

// Saving and loading hives need the backup and restore privileges, for the test as for the cleaner.
bool enable_hive_privileges()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    bool enabled = true;
    for (const wchar_t* name : {L"SeBackupPrivilege", L"SeRestorePrivilege"}) {
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        enabled = enabled && ::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
                  ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                  ::GetLastError() == ERROR_SUCCESS;
    }
    ::CloseHandle(token);
    return enabled;
}

const std::wstring kProfileList = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const std::wstring kClientKey = L"Software\\Orvane\\SSL-VPN Ferrolink";
const std::wstring kQuickLaunch = L"\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch";
const std::wstring kHiveSource = L"Software\\FlTestHiveSource";
const std::wstring kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::wstring profile_sid(int number)
{
    return L"S-1-5-21-1000000001-1000000002-1000000003-" + std::to_wstring(number);
}

// Other users' profiles, each with its ProfileList entry, its folder with the client's Quick Launch shortcut and
// another one, and (where asked) a hive file with the client's key beside another key of the maker.
class OtherProfiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(enable_hive_privileges());
        wchar_t root[MAX_PATH] = {};
        DWORD size = sizeof(root) - sizeof(wchar_t);
        ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_LOCAL_MACHINE, kProfileList.c_str(), L"ProfilesDirectory",
                                                RRF_RT_REG_SZ, nullptr, root, &size));
        profiles_root_ = root;
    }
    void TearDown() override
    {
        for (const std::wstring& sid : loaded_)
            ::RegUnLoadKeyW(HKEY_USERS, sid.c_str());
        for (const auto& [sid, folder] : made_) {
            delete_tree(HKEY_LOCAL_MACHINE, kProfileList + sid);
            remove_tree(folder);
        }
        delete_tree(HKEY_CURRENT_USER, kHiveSource);
    }

    std::wstring folder_of(int number) const { return profiles_root_ + L"\\fltest" + std::to_wstring(number); }
    std::wstring shortcut_of(const std::wstring& folder) const
    {
        return folder + kQuickLaunch + L"\\Orvane Ferrolink.lnk";
    }

    // The profile `number` at `folder`, with a hive file holding the client's key when `client_key`, and the
    // user's own AppData value (REG_EXPAND_SZ) when `appdata` is not empty.
    void make_profile(int number, const std::wstring& folder, bool client_key, const std::wstring& appdata = L"")
    {
        make_profile_for(profile_sid(number), folder, client_key, appdata);
    }
    void make_profile_for(const std::wstring& sid, const std::wstring& folder, bool client_key,
                          const std::wstring& appdata = L"")
    {
        made_.push_back({sid, folder});
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, kProfileList + sid, L"ProfileImagePath", folder));
        ASSERT_TRUE(create_key(HKEY_LOCAL_MACHINE, kProfileList + sid));
        ASSERT_EQ(0u, fake_client::create_folders(folder + kQuickLaunch));
        write_text(shortcut_of(folder), "client");
        write_text(folder + kQuickLaunch + L"\\Other.lnk", "other");
        delete_tree(HKEY_CURRENT_USER, kHiveSource);
        ASSERT_TRUE(set_string(HKEY_CURRENT_USER, kHiveSource + L"\\Software\\Orvane\\Other", L"Keep", L"yes"));
        if (client_key) {
            ASSERT_TRUE(set_string(HKEY_CURRENT_USER, kHiveSource + L"\\" + kClientKey + L"\\Standalone",
                                   L"Language", L"en"));
        }
        if (!appdata.empty()) {
            ASSERT_TRUE(set_raw(HKEY_CURRENT_USER, kHiveSource + L"\\" + kShellFolders, L"AppData", REG_EXPAND_SZ,
                                appdata.c_str(), static_cast<DWORD>((appdata.size() + 1) * sizeof(wchar_t))));
        }
        const unique_hkey source = open_key(HKEY_CURRENT_USER, kHiveSource, KEY_READ);
        ASSERT_TRUE(source);
        ASSERT_EQ(ERROR_SUCCESS, ::RegSaveKeyW(source.get(), (folder + L"\\NTUSER.DAT").c_str(), nullptr));
    }

    // The user is logged on: the hive is loaded under the SID.
    void log_on(int number, const std::wstring& folder) { log_on_as(profile_sid(number), folder); }
    void log_on_as(const std::wstring& sid, const std::wstring& folder)
    {
        ASSERT_EQ(ERROR_SUCCESS, ::RegLoadKeyW(HKEY_USERS, sid.c_str(), (folder + L"\\NTUSER.DAT").c_str()));
        loaded_.push_back(sid);
    }

    std::wstring profiles_root_;
    std::vector<std::pair<std::wstring, std::wstring>> made_;
    std::vector<std::wstring> loaded_;
};

audit::audit_items profile_audit()
{
    audit::audit_items items = audit::check_user_profile_keys();
    for (audit::audit_item& item : audit::check_user_profile_shortcuts())
        items.push_back(item);
    return items;
}

// A logged-on user's key and Quick Launch shortcut go; the user's other keys and files stay. A profile folder
// outside the profiles root is not walked (its hive is never loaded, and the log says so): its shortcut stays,
// shown by the audit and not counted.
TEST_F(OtherProfiles, ALoggedOnUsersKeyAndShortcutGoWhileTheirOtherKeysAndFilesStay)
{
    const std::wstring user = folder_of(1001);
    temp_folder elsewhere;
    ASSERT_NO_FATAL_FAILURE(make_profile(1001, user, true));
    ASSERT_NO_FATAL_FAILURE(log_on(1001, user));
    ASSERT_NO_FATAL_FAILURE(make_profile(1004, elsewhere.path(), false));
    const std::string sid = narrow(profile_sid(1001));
    const std::wstring hive_key = profile_sid(1001) + L"\\" + kClientKey;

    const audit::audit_items before = profile_audit();
    EXPECT_EQ(audit::item_state::present, state_of(before, sid + " HKU\\" + narrow(hive_key)));
    EXPECT_EQ(audit::item_state::present, state_of(before, sid + " " + narrow(shortcut_of(user))));
    const audit::audit_item* skipped = find_item(before, narrow(shortcut_of(elsewhere.path())));
    ASSERT_NE(nullptr, skipped);
    EXPECT_FALSE(skipped->counted);

    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    EXPECT_EQ(1, cleaner::delete_shortcuts());
    const std::vector<std::string> lines = {
        "\tUser profile " + sid + ": key [" + narrow(kClientKey) + "] deleted.",
        "\tUser profile " + narrow(profile_sid(1004)) +
            " skipped: the profile folder is a link or outside the profiles root",
        "\tUser profile " + sid + ": shortcut [" + narrow(shortcut_of(user)) + "] deleted.",
    };
    EXPECT_EQ(lines, lines_starting_with(log.text(), "\tUser profile"));
    EXPECT_FALSE(key_exists(HKEY_USERS, hive_key));
    EXPECT_TRUE(value_exists(HKEY_USERS, profile_sid(1001) + L"\\Software\\Orvane\\Other", L"Keep"));
    EXPECT_FALSE(exists(shortcut_of(user)));
    EXPECT_TRUE(exists(user + kQuickLaunch + L"\\Other.lnk"));
    EXPECT_TRUE(exists(shortcut_of(elsewhere.path())));
    EXPECT_EQ(std::vector<std::string>(), counted_items_present(profile_audit()));
}

// A hive that is not loaded is loaded under a name of the cleaner's own for the deletion and unloaded at once; one
// that cannot be loaded is logged and skipped, and the next profile is still handled. (Wine keeps no change made
// inside a hive loaded this way once it is unloaded, so that the key is back when the file is loaded again: the
// deletion shows here by its line, which is written only after the key was found inside the loaded hive and the
// deleter reported it gone.)
TEST_F(OtherProfiles, AHiveThatIsNotLoadedIsLoadedForTheDeletionAndOneThatCannotBeIsSkipped)
{
    ASSERT_NO_FATAL_FAILURE(make_profile(1002, folder_of(1002), true));
    ASSERT_NO_FATAL_FAILURE(make_profile(1003, folder_of(1003), false));
    ASSERT_NO_FATAL_FAILURE(make_profile(1005, folder_of(1005), true));
    ASSERT_NO_FATAL_FAILURE(make_profile(1006, folder_of(1006), true));
    write_text(folder_of(1003) + L"\\NTUSER.DAT", "not a hive");
    ASSERT_TRUE(::DeleteFileW((folder_of(1005) + L"\\NTUSER.DAT").c_str()));
    const mcl::mswin::unique_handle in_use(::CreateFileW((folder_of(1006) + L"\\NTUSER.DAT").c_str(),
                                                         GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(in_use);
    const std::string sid = narrow(profile_sid(1002));
    const audit::audit_items before = audit::check_user_profile_keys();
    EXPECT_EQ(audit::item_state::present, state_of(before, sid + " HKU\\" + sid));
    EXPECT_FALSE(key_exists(HKEY_USERS, L"FerrolinkAudit_" + profile_sid(1002)));

    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    const auto hive_failure = [this](int number, int error) {
        return "\tUser profile " + narrow(profile_sid(number)) + ": hive [" + narrow(folder_of(number)) +
               "\\NTUSER.DAT] failed, lastError:" + std::to_string(error);
    };
    const std::vector<std::string> lines = {
        "\tUser profile " + sid + ": key [" + narrow(kClientKey) + "] deleted.",
        hive_failure(1003, ERROR_NOT_REGISTRY_FILE),
        hive_failure(1005, ERROR_FILE_NOT_FOUND),
        hive_failure(1006, ERROR_SHARING_VIOLATION),
    };
    EXPECT_EQ(lines, lines_starting_with(log.text(), "\tUser profile"));
    for (int number : {1002, 1003, 1005, 1006})
        EXPECT_FALSE(key_exists(HKEY_USERS, L"FerrolinkCleaner_" + profile_sid(number))) << number;
    // Unloaded: the file loads again under the same name.
    const std::wstring again = L"FerrolinkCleaner_" + profile_sid(1002);
    EXPECT_EQ(ERROR_SUCCESS, ::RegLoadKeyW(HKEY_USERS, again.c_str(), (folder_of(1002) + L"\\NTUSER.DAT").c_str()));
    EXPECT_EQ(ERROR_SUCCESS, ::RegUnLoadKeyW(HKEY_USERS, again.c_str()));
}

// A run ended before it could unload a user's hive left it loaded under the cleaner's own name: the next run
// unloads it first, and then handles that user's profile as any other.
TEST_F(OtherProfiles, AHiveAnEarlierRunLeftLoadedIsUnloadedFirst)
{
    ASSERT_NO_FATAL_FAILURE(make_profile(1014, folder_of(1014), true));
    const std::wstring left = L"FerrolinkCleaner_" + profile_sid(1014);
    ASSERT_NO_FATAL_FAILURE(log_on_as(left, folder_of(1014)));

    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    const std::string sid = narrow(profile_sid(1014));
    const std::vector<std::string> lines = {"\tHive [HKU\\" + narrow(left) + "] left loaded by an earlier run unloaded",
                                            "\tUser profile " + sid + ": key [" + narrow(kClientKey) + "] deleted."};
    const std::vector<std::string> hive_lines = lines_starting_with(log.text(), "\tHive [");
    std::vector<std::string> seen = hive_lines;
    for (const std::string& line : lines_starting_with(log.text(), "\tUser profile " + sid))
        seen.push_back(line);
    EXPECT_EQ(lines, seen) << log.text();
    EXPECT_FALSE(key_exists(HKEY_USERS, left));
}

int profile_verdict()
{
    audit::audit_report report;
    report.items = profile_audit();
    return audit::exit_code_of(audit::verdict_of(report));
}

// Cloud (Entra ID) accounts have S-1-12-1- SIDs: their key and shortcut go like any other user's. The backup
// entry Windows keeps of a profile and a temporary profile are skipped, logged, and shown without being counted.
TEST_F(OtherProfiles, AnEntraIdUsersKeyAndShortcutGoAndBackupAndTemporaryEntriesAreSkipped)
{
    const std::wstring sid = L"S-1-12-1-3373686946-1108223734-2549863073-3551425437";
    const std::wstring folder = profiles_root_ + L"\\fltestentra";
    ASSERT_NO_FATAL_FAILURE(make_profile_for(sid, folder, true));
    ASSERT_NO_FATAL_FAILURE(log_on_as(sid, folder));
    made_.push_back({sid + L".bak", folder});
    ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, kProfileList + sid + L".bak", L"ProfileImagePath", folder));
    ASSERT_NO_FATAL_FAILURE(make_profile(1015, folder_of(1015), true));
    const DWORD temporary = 0x800;
    ASSERT_TRUE(set_raw(HKEY_LOCAL_MACHINE, kProfileList + profile_sid(1015), L"State", REG_DWORD, &temporary,
                        sizeof(temporary)));
    EXPECT_EQ(1, profile_verdict());
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    EXPECT_EQ(1, cleaner::delete_shortcuts());
    EXPECT_FALSE(key_exists(HKEY_USERS, sid + L"\\" + kClientKey));
    EXPECT_FALSE(exists(shortcut_of(folder)));
    EXPECT_TRUE(exists(shortcut_of(folder_of(1015))));
    EXPECT_EQ(0, profile_verdict());
    const audit::audit_items after = profile_audit();
    for (const std::string& skipped : {narrow(sid) + ".bak skipped: a backup entry (.bak)",
                                       narrow(profile_sid(1015)) + " skipped: a temporary profile (State 0x800)"}) {
        EXPECT_EQ(std::vector<std::string>{"\tUser profile " + skipped},
                  lines_starting_with(log.text(), "\tUser profile " + skipped.substr(0, skipped.find(' '))));
        const audit::audit_item* item = find_item(after, skipped.substr(0, skipped.find(' ')));
        ASSERT_NE(nullptr, item) << skipped;
        EXPECT_FALSE(item->counted) << skipped;
        EXPECT_EQ(skipped.substr(0, skipped.find(' ')), item->name);
    }
}

// A profile without a hive file and a mandatory one (NTUSER.MAN only) are never loaded: no NTUSER.DAT appears,
// the log says why, and the audit shows them unchecked and not counted. (Wine's RegLoadKeyW fails on a missing
// file where Windows creates it, so here the file's absence shows only that nothing else writes one.)
TEST_F(OtherProfiles, AProfileWithoutAHiveFileOrWithAMandatoryOneIsNeverLoaded)
{
    ASSERT_NO_FATAL_FAILURE(make_profile(1007, folder_of(1007), true));
    ASSERT_NO_FATAL_FAILURE(make_profile(1008, folder_of(1008), true));
    ASSERT_TRUE(::DeleteFileW((folder_of(1007) + L"\\NTUSER.DAT").c_str()));
    ASSERT_TRUE(::MoveFileW((folder_of(1008) + L"\\NTUSER.DAT").c_str(), (folder_of(1008) + L"\\NTUSER.MAN").c_str()));
    const audit::audit_items before = audit::check_user_profile_keys();
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    EXPECT_EQ(1, cleaner::delete_shortcuts());
    const struct {
        int number;
        const char* detail;
        std::string line;
    } cases[] = {
        {1007, "no hive file (NTUSER.DAT), never loaded",
         ": hive [" + narrow(folder_of(1007)) + "\\NTUSER.DAT] failed, lastError:2"},
        {1008, "a mandatory profile (NTUSER.MAN), never loaded",
         ": hive [" + narrow(folder_of(1008)) + "\\NTUSER.MAN] left: a mandatory profile, never loaded"},
    };
    for (const auto& c : cases) {
        const std::string sid = narrow(profile_sid(c.number));
        const audit::audit_item* item = find_item(before, sid + " HKU\\");
        ASSERT_NE(nullptr, item) << sid;
        EXPECT_EQ(audit::item_state::unchecked, item->state) << sid;
        EXPECT_FALSE(item->counted) << sid;
        EXPECT_EQ(c.detail, item->detail);
        EXPECT_EQ("profile:" + sid + ":key", item->id);
        EXPECT_EQ(std::vector<std::string>{"\tUser profile " + sid + c.line},
                  lines_starting_with(log.text(), "\tUser profile " + sid + ": hive"));
        EXPECT_FALSE(exists(folder_of(c.number) + L"\\NTUSER.DAT")) << sid;
    }
}

// A user's own shell folders may move AppData: the shortcut is found and deleted there, %USERPROFILE% being the
// user's folder (not the running account's) and a local folder elsewhere walked from its drive's root. A share
// is not walked: logged, and shown unchecked and not counted.
TEST_F(OtherProfiles, TheShortcutGoesWhereTheUsersOwnAppdataIsAndAShareIsNotWalked)
{
    temp_folder elsewhere;
    const std::wstring share = L"\\\\flserver\\home\\ana";
    const std::wstring ql = L"\\Microsoft\\Internet Explorer\\Quick Launch\\Orvane Ferrolink.lnk";
    const struct {
        int number;
        std::wstring value;
        std::wstring appdata;  // empty: not on this machine
    } cases[] = {
        {1009, L"%USERPROFILE%\\Redirected", folder_of(1009) + L"\\Redirected"},
        {1010, elsewhere.path() + L"\\ana", elsewhere.path() + L"\\ana"},
        {1011, share, L""},
    };
    for (const auto& c : cases) {
        ASSERT_NO_FATAL_FAILURE(make_profile(c.number, folder_of(c.number), false, c.value));
        if (!c.appdata.empty()) {
            ASSERT_EQ(0u, fake_client::create_folders(c.appdata + L"\\Microsoft\\Internet Explorer\\Quick Launch"));
            write_text(c.appdata + ql, "client");
        }
    }
    const audit::audit_items before = audit::check_user_profile_shortcuts();
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_shortcuts());
    for (const auto& c : cases) {
        const std::string sid = narrow(profile_sid(c.number));
        const std::string path = narrow((c.appdata.empty() ? share : c.appdata) + ql);
        const audit::audit_item* item = find_item(before, sid + " " + path);
        ASSERT_NE(nullptr, item) << path;
        EXPECT_EQ(c.appdata.empty() ? audit::item_state::unchecked : audit::item_state::present, item->state);
        EXPECT_EQ(!c.appdata.empty(), item->counted) << path;
        const std::string line = "\tUser profile " + sid + ": shortcut [" + path +
                                 (c.appdata.empty() ? "] left: AppData is on the network, not walked" : "] deleted.");
        EXPECT_EQ(std::vector<std::string>{line}, lines_starting_with(log.text(), "\tUser profile " + sid));
        if (!c.appdata.empty()) {
            EXPECT_FALSE(exists(c.appdata + ql)) << path;
        }
    }
}

// A logged-on user can keep the client's key growing while step 6 deletes it: the deletion stops at its bound,
// the log says what is left, and step 6 fails.
TEST_F(OtherProfiles, AUserKeyTreeBeyondTheBoundIsLeftUnfinishedAndFailsStep6)
{
    ASSERT_NO_FATAL_FAILURE(make_profile(1012, folder_of(1012), true));
    ASSERT_NO_FATAL_FAILURE(log_on(1012, folder_of(1012)));
    const std::wstring key = profile_sid(1012) + L"\\" + kClientKey;
    ASSERT_TRUE(key_exists(HKEY_USERS, key));
    ASSERT_TRUE(create_subkeys(HKEY_USERS, key, cleaner::kUserKeyMostKeys + 1));
    captured_log log;
    EXPECT_EQ(0, cleaner::delete_registry_data(false));
    const std::string bound = std::to_string(cleaner::kUserKeyMostKeys);
    const std::vector<std::string> lines = {"\tUser profile " + narrow(profile_sid(1012)) + ": key [" +
                                            narrow(kClientKey) + "] left: unfinished after " + bound +
                                            " keys (bound: " + bound + " keys or 30 s), 3 subkeys left directly below it"};
    EXPECT_EQ(lines, lines_starting_with(log.text(), "\tUser profile"));
    EXPECT_TRUE(ends_with(log.text(), "\tfailed\n"));
    EXPECT_TRUE(key_exists(HKEY_USERS, key));
}

// "Software\Orvane" in a user's hive may be a link the user planted: it is never followed, the log says the key
// is left, and the audit counts it as present, never absent.
TEST_F(OtherProfiles, ALinkOnTheWayToAUsersKeyIsNotFollowedAndCountsAsPresent)
{
    ASSERT_NO_FATAL_FAILURE(make_profile(1013, folder_of(1013), false));
    ASSERT_NO_FATAL_FAILURE(log_on(1013, folder_of(1013)));
    const std::wstring sid = profile_sid(1013);
    delete_tree(HKEY_USERS, sid + L"\\Software\\Orvane");
    ASSERT_TRUE(create_key(HKEY_USERS, sid + L"\\Software\\FlTestElsewhere\\SSL-VPN Ferrolink"));
    const std::wstring target = L"\\Registry\\User\\" + sid + L"\\Software\\FlTestElsewhere";
    {
        unique_hkey link;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_USERS, (sid + L"\\Software\\Orvane").c_str(), 0, nullptr,
                                                   REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, link.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                                  reinterpret_cast<const BYTE*>(target.c_str()),
                                                  static_cast<DWORD>(target.size() * sizeof(wchar_t))));
    }
    EXPECT_EQ(audit::item_state::present, state_of(audit::check_user_profile_keys(), narrow(sid) + " HKU\\"));
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_registry_data(false));
    EXPECT_EQ(std::vector<std::string>{"\tUser profile " + narrow(sid) + ": key [" + narrow(kClientKey) +
                                       "] left: a link on the way, not followed"},
              lines_starting_with(log.text(), "\tUser profile"));
    EXPECT_TRUE(key_exists(HKEY_USERS, sid + L"\\Software\\FlTestElsewhere\\SSL-VPN Ferrolink"));
}

// A hard link planted as a user's shortcut goes as one name of the file: the file's other name, outside the
// profile, keeps its attributes.
TEST_F(OtherProfiles, AHardLinkPlantedAsAUsersShortcutLeavesTheFilesAttributesAlone)
{
    temp_folder outside;
    const std::wstring target = outside.path() + L"\\kept.txt";
    write_text(target, "kept");
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_NO_FATAL_FAILURE(make_profile(1014, folder_of(1014), false));
    const std::wstring shortcut = shortcut_of(folder_of(1014));
    ASSERT_TRUE(::DeleteFileW(shortcut.c_str()));
    ASSERT_TRUE(::CreateHardLinkW(shortcut.c_str(), target.c_str(), nullptr));
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_shortcuts());
    EXPECT_FALSE(exists(shortcut));
    EXPECT_TRUE(::GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

} // namespace
