// FerrolinkAudit.exe against the client's footprint as the fake client installs it (the demo's machine),
// after an interactive and an unattended cleaner run, and the verdict its items add up to.
#include "audit/audit_report.h"
#include "audit/checks.h"
#include "audit/text_report.h"
#include "footprint/footprint.h"
#include "fake_client/adapter.h"
#include "fake_client/common.h"
#include "fake_client/driver_package.h"
#include "fake_client/install_folder.h"
#include "fake_client/pending_renames.h"
#include "fake_client/registry_footprint.h"
#include "fake_client/services.h"
#include "fake_client/shortcuts.h"
#include "test_support.h"

#include <msi.h>
#include <shlobj.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cwchar>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

using namespace fltest;

namespace {

const char* const kImages[] = {"FLGui.exe", "Ferrolink.exe", "FLIdle.exe"};

struct audit_output {
    DWORD exit_code = 0xFFFFFFFF;
    std::vector<std::string> lines;      // the item lines of the text report
    std::string text;
    DWORD json_exit_code = 0xFFFFFFFF;
    std::vector<audit::audit_item> items;  // read back from the JSON report
    nlohmann::json document;               // the JSON report as it came
};

audit::item_state state_from(const std::string& text)
{
    if (text == "present")
        return audit::item_state::present;
    if (text == "pending_restart")
        return audit::item_state::pending_restart;
    return text == "absent" ? audit::item_state::absent : audit::item_state::unchecked;
}

// The JSON document's items; an empty list when it does not parse.
std::vector<audit::audit_item> json_items(const std::string& text)
{
    std::vector<audit::audit_item> items;
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.contains("items"))
        return items;
    for (const nlohmann::json& entry : document["items"]) {
        audit::audit_item item;
        item.id = entry.at("id").get<std::string>();
        item.part = entry.at("part").get<std::string>();
        item.name = entry.at("name").get<std::string>();
        item.state = state_from(entry.at("state").get<std::string>());
        item.detail = entry.at("detail").get<std::string>();
        item.error = entry.at("error").get<unsigned long>();
        item.needs_admin = entry.at("needs_admin").get<bool>();
        item.counted = entry.at("counted").get<bool>();
        items.push_back(item);
    }
    return items;
}

audit_output run_audit_exe()
{
    const std::wstring exe = L"\"" + bin_path(L"FerrolinkAudit.exe") + L"\"";
    audit_output out;
    const process_output text = run_process(exe);
    out.exit_code = text.exit_code;
    out.text = text.console;
    // The items follow the first line (version, computer, time, account) and an empty line.
    std::istringstream lines(text.console);
    std::string header;
    std::getline(lines, header);
    std::getline(lines, header);
    for (std::string line; std::getline(lines, line) && !line.empty();)
        out.lines.push_back(line);
    const process_output json = run_process(exe + L" --json");
    out.json_exit_code = json.exit_code;
    out.items = json_items(json.console);
    out.document = nlohmann::json::parse(json.console, nullptr, false);
    return out;
}

// The JSON items, written as text lines, are the text report's lines: the same items in the same order.
void expect_same_items(const audit_output& out)
{
    ASSERT_FALSE(out.items.empty()) << "no JSON items";
    std::vector<std::string> from_json;
    for (const audit::audit_item& item : out.items)
        from_json.push_back(audit::item_line(item));
    EXPECT_EQ(out.lines, from_json);
    EXPECT_EQ(out.exit_code, out.json_exit_code);
}

const audit::audit_item* find_item(const audit_output& out, const std::string& name_part)
{
    for (const audit::audit_item& item : out.items) {
        if (item.name.find(name_part) != std::string::npos)
            return &item;
    }
    return nullptr;
}

class AuditExe : public ::testing::Test {
protected:
    void SetUp() override { remove_footprint(); }
    void TearDown() override
    {
        processes_.clear();
        remove_footprint();
    }

    void remove_footprint()
    {
        for (const wchar_t* name : fake_client::client_service_names)
            EXPECT_EQ(0u, fake_client::remove_service(name));
        EXPECT_EQ(0u, fake_client::remove_adapters(fake_client::client_adapter_id_list()));
        EXPECT_EQ(0u, fake_client::remove_footprint_infs());
        EXPECT_EQ(0u, fake_client::remove_install_tree(install_folder_));
        EXPECT_EQ(0u, fake_client::remove_shortcuts());
        for (const std::wstring& path : keys_wine_leaves_out())
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        EXPECT_EQ(0u, fake_client::uninstall_client_package());
        EXPECT_EQ(0u, fake_client::delete_client_keys());
    }

    // What the demo installs: registry keys and package, services, adapter, driver package, registered install
    // folder, shortcuts, and the three client processes.
    void install_footprint()
    {
        ASSERT_EQ(0u, fake_client::write_client_keys());
        ASSERT_EQ(0u, fake_client::install_client_package());
        ASSERT_NO_FATAL_FAILURE(write_keys_wine_leaves_out());
        for (const wchar_t* name : fake_client::client_service_names)
            ASSERT_EQ(0u, fake_client::install_service(name));
        for (const char* id : fake_client::client_adapter_ids)
            ASSERT_EQ(0u, fake_client::add_adapter({id})) << id;
        ASSERT_EQ(0u, fake_client::publish_driver(driver_source_.path(), "orvanefldrv_audit.inf", false));
        ASSERT_EQ(0u, fake_client::make_install_tree(install_folder_));
        ASSERT_EQ(0u, fake_client::register_install_dir(install_folder_));
        ASSERT_EQ(0u, fake_client::make_shortcuts(install_folder_ + L"\\Ferrolink.exe"));
        for (const char* image : kImages) {
            const std::wstring path = copy_sleeper(process_folder_.path(), widen(image));
            processes_.push_back(std::make_unique<child_process>(L"\"" + path + L"\""));
            ASSERT_TRUE(processes_.back()->started()) << image;
        }
    }

    // Rows 14 and 18: the uninstall entry of a 32-bit package and the uninstall index of upgrade codes, which
    // Wine's Windows Installer does not write.
    static std::vector<std::wstring> keys_wine_leaves_out()
    {
        wchar_t product[40] = {};
        if (::MsiEnumRelatedProductsW(ferrolink::upgrade_code, 0, 0, product) != ERROR_SUCCESS)
            return {};
        return {L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + std::wstring(product),
                L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\UpgradeCodes\\" +
                    std::wstring(ferrolink::packed_upgrade_code)};
    }

    static void write_keys_wine_leaves_out()
    {
        const std::vector<std::wstring> keys = keys_wine_leaves_out();
        ASSERT_EQ(2u, keys.size());
        for (const std::wstring& path : keys) {
            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                                       nullptr, &key, nullptr));
            ::RegCloseKey(key);
        }
    }

    const std::wstring install_folder_ = fake_client::default_install_folder();
    temp_folder driver_source_;
    temp_folder process_folder_;
    temp_folder work_;
    std::vector<std::unique_ptr<child_process>> processes_;
};

TEST_F(AuditExe, FindsTheWholeFootprintAndNothingAfterAnInteractiveCleanerRun)
{
    ASSERT_NO_FATAL_FAILURE(install_footprint());
    const audit_output before = run_audit_exe();
    EXPECT_EQ(1u, before.exit_code) << before.text;
    expect_same_items(before);
    for (const audit::audit_item& item : before.items) {
        if (!item.counted)
            continue;
        EXPECT_EQ(audit::item_state::present, item.state) << audit::item_line(item);
    }

    const process_output cleaner = run_process(L"\"" + bin_path(L"FerrolinkCleaner.exe") + L"\"", work_.path());
    // Deleting the driver package asks for a restart.
    ASSERT_EQ(3010u, cleaner.exit_code) << cleaner.console;

    const audit_output after = run_audit_exe();
    EXPECT_EQ(0u, after.exit_code) << after.text;
    expect_same_items(after);
    for (const audit::audit_item& item : after.items) {
        if (!item.counted)
            continue;
        EXPECT_EQ(audit::item_state::absent, item.state) << audit::item_line(item);
    }
    // The index of per-user installations, which the cleaner leaves, is shown and not counted; the machine's own
    // index is removed with the registration and counted like it.
    const audit::audit_item* index = find_item(after, "Windows Installer's index");
    ASSERT_NE(nullptr, index);
    EXPECT_FALSE(index->counted);
}

TEST_F(AuditExe, TheProfilesAnUnattendedRunKeepsDoNotCount)
{
    ASSERT_EQ(0u, fake_client::write_client_keys());
    const process_output cleaner =
        run_process(L"\"" + bin_path(L"FerrolinkCleaner.exe") + L"\" -auto", work_.path());
    ASSERT_EQ(0u, cleaner.exit_code) << cleaner.console;

    const audit_output after = run_audit_exe();
    EXPECT_EQ(0u, after.exit_code) << after.text;
    const audit::audit_item* product_key = find_item(after, "row 1 HKLM\\Software\\Orvane\\SSL-VPN Ferrolink");
    ASSERT_NE(nullptr, product_key);
    EXPECT_EQ(audit::item_state::present, product_key->state);
    EXPECT_FALSE(product_key->counted);
}

// An InstallDir the cleaner refuses to delete (here the 64-bit program files folder) is shown with the reason
// and not counted, and the default folder is checked instead, as the cleaner then deletes it.
TEST_F(AuditExe, ARefusedInstallDirIsShownWithItsReasonAndNotCounted)
{
    ASSERT_EQ(0u, fake_client::write_client_keys());
    const std::wstring program_files = fake_client::shell_folder(CSIDL_PROGRAM_FILES);
    ASSERT_EQ(0u, fake_client::register_install_dir(program_files));
    const process_output cleaner =
        run_process(L"\"" + bin_path(L"FerrolinkCleaner.exe") + L"\" -auto", work_.path());
    ASSERT_EQ(0u, cleaner.exit_code) << cleaner.console;

    const audit_output after = run_audit_exe();
    EXPECT_EQ(0u, after.exit_code) << after.text;
    expect_same_items(after);
    const audit::audit_item* refused = find_item(after, "registered folder " + narrow(program_files));
    ASSERT_NE(nullptr, refused) << after.text;
    EXPECT_EQ(audit::item_state::present, refused->state);
    EXPECT_EQ("refused: a system or shell folder, or a folder that holds one", refused->detail);
    EXPECT_FALSE(refused->counted);
    EXPECT_NE(nullptr, find_item(after, "default folder " + narrow(install_folder_))) << after.text;
    EXPECT_TRUE(exists(program_files));
}

// The service's DeleteFlag, written as Windows writes it when DeleteService marks a service; Wine's manager keeps
// the mark to itself.
void mark_for_deletion(const wchar_t* service)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                             (std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + service).c_str(),
                                             0, KEY_SET_VALUE, &key));
    const DWORD marked = 1;
    const LONG written = ::RegSetValueExW(key, L"DeleteFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&marked),
                                          sizeof(marked));
    ::RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, written);
}

// What Windows deletes only at restart is shown as pending and not counted: a stopped service that the Service
// Control Manager has marked for deletion, and an install folder registered for deletion with everything in it.
// A registered folder that still holds anything unregistered stays counted: Windows would not remove it.
TEST_F(AuditExe, WhatGoesAtRestartIsShownAsPendingAndNotCounted)
{
    const wchar_t* const service = fake_client::client_service_names[0];
    fake_client::service_options stopped;
    stopped.start = false;
    ASSERT_EQ(0u, fake_client::install_service(service, stopped));
    ASSERT_NO_FATAL_FAILURE(mark_for_deletion(service));
    ASSERT_EQ(0u, fake_client::create_folders(install_folder_));
    const std::wstring registered = install_folder_ + L"\\Ferrolink.exe";
    const std::wstring unregistered = install_folder_ + L"\\FLConfig.ini";
    write_text(registered, "x");
    write_text(unregistered, "x");
    ASSERT_TRUE(::MoveFileExW(registered.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(::MoveFileExW(install_folder_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    const audit_output partly = run_audit_exe();
    const bool registered_too = ::MoveFileExW(unregistered.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    const audit_output whole = run_audit_exe();
    EXPECT_EQ(0u, fake_client::forget_pending_renames(install_folder_));
    ASSERT_TRUE(registered_too);

    const std::string folder = "default folder " + narrow(install_folder_);
    const struct {
        const char* what;
        const audit_output& out;
        audit::item_state folder_state;
        DWORD exit_code;
    } cases[] = {
        {"a file of the folder not registered", partly, audit::item_state::present, 1},
        {"the folder registered with everything in it", whole, audit::item_state::pending_restart, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.exit_code, c.out.exit_code) << c.out.text;
        expect_same_items(c.out);
        const audit::audit_item* service_item = find_item(c.out, narrow(service));
        ASSERT_NE(nullptr, service_item) << c.out.text;
        EXPECT_EQ(audit::item_state::pending_restart, service_item->state) << c.out.text;
        EXPECT_FALSE(service_item->counted);
        const audit::audit_item* folder_item = find_item(c.out, folder);
        ASSERT_NE(nullptr, folder_item) << c.out.text;
        EXPECT_EQ(c.folder_state, folder_item->state) << c.out.text;
        EXPECT_EQ(c.folder_state == audit::item_state::present, folder_item->counted);
    }
    EXPECT_NE(std::string::npos, whole.text.find("pending restart services: " + narrow(service) + " (stopped) [not counted]\n"))
        << whole.text;
    EXPECT_TRUE(whole.document.at("restart_pending").get<bool>());
    EXPECT_NE(std::string::npos, whole.text.find("\nResult: nothing of the Ferrolink client is left once Windows "
                                                 "restarts (2 items go at the restart) (exit code 0); "))
        << whole.text;
}

// A marked service that still runs keeps the client active until Windows restarts: it is present, and counts.
TEST_F(AuditExe, AMarkedServiceThatStillRunsIsPresent)
{
    const wchar_t* const service = fake_client::client_service_names[0];
    ASSERT_EQ(0u, fake_client::install_service(service));
    ASSERT_NO_FATAL_FAILURE(mark_for_deletion(service));
    const audit_output out = run_audit_exe();
    EXPECT_EQ(1u, out.exit_code) << out.text;
    const audit::audit_item* item = find_item(out, narrow(service));
    ASSERT_NE(nullptr, item) << out.text;
    EXPECT_EQ("present   services: " + narrow(service) + " (running, marked for deletion)", audit::item_line(*item));
}

// What a fleet pipeline parses: the document's fields with their types, a count per state that adds up to the
// items, a unique id for every item; and the text's first and last lines.
TEST_F(AuditExe, TheJsonFieldsCarryTheirTypesAndEveryItemAUniqueId)
{
    ASSERT_EQ(0u, fake_client::install_service(fake_client::client_service_names[1]));
    const audit_output out = run_audit_exe();
    const nlohmann::json& document = out.document;
    using type = nlohmann::json::value_t;
    const std::map<std::string, type> fields = {
        {"schema", type::number_unsigned}, {"tool", type::string},    {"version", type::string},
        {"computer", type::string},        {"time", type::string},    {"account", type::string},
        {"elevated", type::boolean},       {"summary", type::object}, {"restart_pending", type::boolean},
        {"result", type::string},          {"exit_code", type::number_unsigned}, {"items", type::array}};
    for (const auto& [field, kind] : fields)
        EXPECT_EQ(kind, document.contains(field) ? document.at(field).type() : type::discarded) << field;
    const std::string time = document.value("time", "");
    EXPECT_TRUE(time.size() == 20 && time[10] == 'T' && time.back() == 'Z') << time;
    unsigned summed = 0;
    for (const char* state : {"present", "absent", "unchecked", "pending_restart", "not_counted"})
        summed += document["summary"].value(state, 1000u);
    EXPECT_EQ(out.items.size(), summed);
    std::set<std::string> ids;
    for (const audit::audit_item& item : out.items)
        EXPECT_TRUE(!item.id.empty() && ids.insert(item.id).second) << item.id << " for " << item.name;
    EXPECT_EQ(1u, ids.count("service:" + narrow(fake_client::client_service_names[1])));
    EXPECT_EQ(1u, ids.count("registry:row2"));

    EXPECT_EQ(0u, out.text.rfind("FerrolinkAudit 2.5 on " + document.value("computer", "") + " at ", 0)) << out.text;
    const std::string last = out.text.substr(out.text.rfind('\n', out.text.size() - 2) + 1);
    EXPECT_EQ(0u, last.rfind("Result: something of the Ferrolink client is left (exit code 1); 1 present, ", 0));
    EXPECT_LT(last.size(), 300u) << last;
}

TEST(AuditVerdict, PresentWinsThenUncheckedThenClean)
{
    const auto item = [](audit::item_state state, bool counted) {
        audit::audit_item one;
        one.state = state;
        one.counted = counted;
        return one;
    };
    using audit::item_state;
    const struct {
        std::vector<audit::audit_item> items;
        int exit_code;
    } cases[] = {
        {{}, 0},
        {{item(item_state::absent, true), item(item_state::present, false)}, 0},
        {{item(item_state::unchecked, false)}, 0},
        {{item(item_state::absent, true), item(item_state::unchecked, true)}, 2},
        {{item(item_state::unchecked, true), item(item_state::present, true)}, 1},
        {{item(item_state::present, true), item(item_state::absent, true)}, 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        audit::audit_report report;
        report.items = cases[i].items;
        EXPECT_EQ(cases[i].exit_code, audit::exit_code_of(audit::verdict_of(report))) << "case " << i;
    }
}

TEST(AuditText, ALineBreakReadFromTheMachineStaysInsideItsItemLine)
{
    audit::audit_item item;
    item.part = "install folder";
    item.name = "InstallDir";
    item.state = audit::item_state::present;
    item.detail = "C:\\x\r\nabsent    services: ORVANE_Ferrolink";
    EXPECT_EQ("present   install folder: InstallDir (C:\\x??absent    services: ORVANE_Ferrolink)",
              audit::item_line(item));
}

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kCommonStartMenu[] = L"Common Start Menu";

bool set_start_menu(const wchar_t* folder)
{
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kShellFolders, kCommonStartMenu, REG_EXPAND_SZ, folder,
                             static_cast<DWORD>((std::wcslen(folder) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The common Start Menu as the machine names it, put back on destruction.
struct saved_start_menu {
    wchar_t folder[MAX_PATH] = {};
    DWORD size = sizeof(folder);
    const bool saved = ::RegGetValueW(HKEY_LOCAL_MACHINE, kShellFolders, kCommonStartMenu,
                                      RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, folder, &size) == ERROR_SUCCESS;
    ~saved_start_menu()
    {
        if (saved)
            set_start_menu(folder);
    }
};

// The shortcut paths are the ones step 7 forms: one that does not fit MAX_PATH is one the cleaner refuses to use,
// and so it cannot be checked either.
TEST(AuditShortcuts, AShortcutPathThatDoesNotFitMaxPathIsUnchecked)
{
    temp_folder folder;
    const std::wstring suffix = ferrolink::shortcut_files[0].suffix;
    const struct {
        size_t path_length;
        audit::item_state state;
        unsigned long error;
    } cases[] = {
        {MAX_PATH - 1, audit::item_state::absent, 0},
        {MAX_PATH, audit::item_state::unchecked, ERROR_FILENAME_EXCED_RANGE},
    };
    const saved_start_menu saved;
    ASSERT_TRUE(saved.saved);
    for (const auto& c : cases) {
        const size_t name_length = c.path_length - suffix.size() - folder.path().size() - 1;
        const std::wstring start_menu = folder / std::wstring(name_length, L's');
        ASSERT_TRUE(::CreateDirectoryW(start_menu.c_str(), nullptr));
        ASSERT_TRUE(set_start_menu(start_menu.c_str()));
        const audit::audit_items items = audit::check_shortcuts();
        ASSERT_EQ(4u, items.size());
        EXPECT_EQ("shortcut:start_menu", items[1].id);
        EXPECT_EQ(narrow(start_menu + suffix), items[1].name);
        EXPECT_EQ(static_cast<int>(c.state), static_cast<int>(items[1].state)) << c.path_length;
        EXPECT_EQ(c.error, items[1].error) << c.path_length;
    }
}

TEST(AuditCommandLine, AWrongWordExits2WithTheUsage)
{
    const process_output out = run_process(L"\"" + bin_path(L"FerrolinkAudit.exe") + L"\" --jsn");
    EXPECT_EQ(2u, out.exit_code);
    EXPECT_NE(std::string::npos, out.console.find("usage: FerrolinkAudit [--json]")) << out.console;
}

} // namespace
