// Step 7 on the client's fixed shortcut paths in the prefix's real shell folders.
#include "captured_log.h"
#include "cleaner/steps/shortcuts.h"
#include "fake_client/install_folder.h"
#include "fake_client/shortcuts.h"
#include "log_lines.h"
#include "mcl/mswin/unique_resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace fltest;
using mcl::mswin::unique_handle;

namespace {

std::string folder_of(const std::wstring& path)
{
    return narrow(path.substr(0, path.find_last_of(L'\\')));
}

class ShortcutRemoval : public ::testing::Test {
protected:
    void SetUp() override { EXPECT_EQ(0u, fake_client::remove_shortcuts()); }
    void TearDown() override
    {
        if (exists(quick_launch_aside_)) {
            EXPECT_TRUE(::MoveFileW(quick_launch_aside_.c_str(), widen(quick_launch_folder_).c_str()));
        }
        EXPECT_EQ(0u, fake_client::remove_shortcuts());
    }

    std::string deleted(const std::wstring& path) { return "\tTry to delete file [" + narrow(path) + "]...succeed"; }
    std::string not_found(const std::wstring& path)
    {
        return "\tFile [" + narrow(path) + "] not found or already deleted";
    }

    const fake_client::shortcut_paths paths_ = fake_client::client_shortcut_paths();
    const std::wstring target_ = fake_client::default_install_folder() + L"\\Ferrolink.exe";
    const std::string quick_launch_folder_ = folder_of(paths_.quick_launch);
    const std::wstring quick_launch_aside_ = widen(quick_launch_folder_) + L" aside";
};

TEST_F(ShortcutRemoval, AllShortcutsAbsentPassesWithALineForEach)
{
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_shortcuts());
    EXPECT_EQ("\tCannot find [" + narrow(paths_.program_group) + "] file or folder\n" + not_found(paths_.start_menu) +
                  "\n" + not_found(paths_.quick_launch) + "\n" + not_found(paths_.desktop) + "\n",
              log.text());
}

TEST_F(ShortcutRemoval, TheProgramGroupAndAllThreeShortcutsGo)
{
    ASSERT_EQ(0u, fake_client::make_shortcuts(target_));
    ASSERT_EQ(4u, fake_client::existing_shortcuts().size());
    ::SetFileAttributesW(paths_.desktop.c_str(), FILE_ATTRIBUTE_READONLY);
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_shortcuts());
    const std::vector<std::string> lines = lines_of(log.text());
    ASSERT_EQ(6u, lines.size());
    // The group's two shortcuts in search order, then the group, then the files in their fixed order.
    std::vector<std::string> group_files(lines.begin(), lines.begin() + 2);
    std::sort(group_files.begin(), group_files.end());
    EXPECT_EQ(deleted(paths_.program_group + L"\\Orvane Ferrolink.lnk"), group_files[0]);
    EXPECT_EQ(deleted(paths_.program_group + L"\\Uninstall Orvane Ferrolink.lnk"), group_files[1]);
    EXPECT_EQ("\tTry to delete folder [" + narrow(paths_.program_group) + "]...succeed", lines[2]);
    EXPECT_EQ(deleted(paths_.start_menu), lines[3]);
    EXPECT_EQ(deleted(paths_.quick_launch), lines[4]);
    EXPECT_EQ(deleted(paths_.desktop), lines[5]);
    EXPECT_TRUE(fake_client::existing_shortcuts().empty());
}

// A missing shortcut file is fine, a missing folder on its path is not: the step stops there.
TEST_F(ShortcutRemoval, AProgramGroupThatCannotBeDeletedStopsTheStep)
{
    ASSERT_EQ(0u, fake_client::make_shortcuts(target_));
    const std::wstring busy_path = paths_.program_group + L"\\Orvane Ferrolink.lnk";
    const unique_handle busy(::CreateFileW(busy_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy);
    captured_log log;
    EXPECT_EQ(0, cleaner::delete_shortcuts());
    const std::vector<std::string> lines = lines_of(log.text());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("\tTry to delete file [" + narrow(busy_path) + "]...failed", lines[lines.size() - 2]);
    EXPECT_EQ("Failed to delete file, lastError:32", lines.back());
    EXPECT_TRUE(exists(paths_.start_menu));
}

// Under SYSTEM (every Intune and SCCM run) the profile usually has no Quick Launch folder: that shortcut is not
// there, and the desktop shortcut after it still goes.
TEST_F(ShortcutRemoval, AMissingQuickLaunchFolderHoldsNoShortcutAndTheDesktopOneStillGoes)
{
    ASSERT_EQ(0u, fake_client::make_shortcut(paths_.start_menu, target_));
    ASSERT_EQ(0u, fake_client::make_shortcut(paths_.desktop, target_));
    ASSERT_TRUE(::MoveFileW(widen(quick_launch_folder_).c_str(), quick_launch_aside_.c_str()));
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_shortcuts());
    EXPECT_EQ("\tCannot find [" + narrow(paths_.program_group) + "] file or folder\n" + deleted(paths_.start_menu) +
                  "\n" + not_found(paths_.quick_launch) + "\n" + deleted(paths_.desktop) + "\n",
              log.text());
    EXPECT_FALSE(exists(paths_.desktop));
}

} // namespace
