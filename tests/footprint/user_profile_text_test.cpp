#include "footprint/appdata_path.h"
#include "footprint/profile_entry.h"

#include <gtest/gtest.h>

namespace {

using ferrolink::appdata_kind;
using ferrolink::profile_skip;

TEST(ProfileEntry, UsersOfEveryKindAreWalkedAndServiceBackupAndTemporaryEntriesAreNot)
{
    const struct {
        const wchar_t* name;
        unsigned long state;
        profile_skip skip;
    } cases[] = {
        {L"S-1-5-21-1004336348-1177238915-682003330-1001", 0, profile_skip::none},
        {L"S-1-12-1-3373686946-1108223734-2549863073-3551425437", 0x100, profile_skip::none},
        {L"S-1-5-21-1-2-3-1001", 0x0001, profile_skip::none},  // mandatory: walked, its hive is not loaded
        {L"S-1-5-18", 0, profile_skip::service_account},
        {L"S-1-5-19", 0, profile_skip::service_account},
        {L"S-1-5-20", 0, profile_skip::service_account},
        {L"S-1-5-21-1-2-3-1001.bak", 0, profile_skip::backup_entry},
        {L"S-1-12-1-1-2-3-4.BAK", 0, profile_skip::backup_entry},
        {L"S-1-5-21-1-2-3-1002", 0x0804, profile_skip::temporary_profile},
        {L"S-1-5-21-1-2-3-1003", 0x8000, profile_skip::backup_profile},
        {L"S-1-5-21-1-2-3-1003", 0x8800, profile_skip::backup_profile},
        {L"S-1-5", 0, profile_skip::not_a_sid},
        {L"S-1-5-21-", 0, profile_skip::not_a_sid},
        {L"S-1-5--21", 0, profile_skip::not_a_sid},
        {L"S-1-5-21-1\\..\\x", 0, profile_skip::not_a_sid},
        {L"s-1-5-21-1-2-3-1001", 0, profile_skip::not_a_sid},
        {L"", 0, profile_skip::not_a_sid},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.skip, ferrolink::profile_entry_skip(c.name, c.state)) << c.name << " state " << c.state;
}

TEST(AppdataPath, OnlyWhatIsTheSameForTheUserIsExpanded)
{
    const std::wstring profile = L"C:\\Users\\ana";
    const std::wstring windows = L"C:\\Windows";
    const struct {
        const wchar_t* value;
        appdata_kind kind;
        const wchar_t* path;
    } cases[] = {
        {L"%USERPROFILE%\\AppData\\Roaming", appdata_kind::local, L"C:\\Users\\ana\\AppData\\Roaming"},
        {L"%userprofile%\\OneDrive\\AppData\\", appdata_kind::local, L"C:\\Users\\ana\\OneDrive\\AppData"},
        {L"%SystemDrive%\\Redirected\\ana", appdata_kind::local, L"C:\\Redirected\\ana"},
        {L"%windir%\\..\\Data", appdata_kind::local, L"C:\\Windows\\..\\Data"},
        {L"D:\\100%\\ana", appdata_kind::local, L"D:\\100%\\ana"},
        {L"\\\\files\\home$\\ana\\AppData", appdata_kind::network, L"\\\\files\\home$\\ana\\AppData"},
        {L"%HOMESHARE%\\AppData", appdata_kind::unresolved, L"%HOMESHARE%\\AppData"},
        {L"%USERNAME%", appdata_kind::unresolved, L"%USERNAME%"},
        {L"C:\\Users\\%APPDATA%\\x", appdata_kind::unresolved, L"C:\\Users\\%APPDATA%\\x"},
        {L"\\\\?\\C:\\Users\\ana", appdata_kind::unresolved, L"\\\\?\\C:\\Users\\ana"},
        {L"AppData\\Roaming", appdata_kind::unresolved, L"AppData\\Roaming"},
        {L"C:\\x:stream", appdata_kind::unresolved, L"C:\\x:stream"},
        {L"", appdata_kind::unresolved, L""},
    };
    for (const auto& c : cases) {
        const ferrolink::appdata_location location = ferrolink::resolve_appdata(c.value, profile, windows);
        EXPECT_EQ(c.kind, location.kind) << c.value;
        EXPECT_EQ(c.path, location.path) << c.value;
    }
    EXPECT_EQ(appdata_kind::unresolved, ferrolink::resolve_appdata(L"%USERPROFILE%\\x", L"", windows).kind);
}

} // namespace
