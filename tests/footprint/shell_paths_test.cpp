// Paths below the shell's special folders, and the MAX_PATH rule they keep.
#include "footprint/shell_paths.h"

#include <gtest/gtest.h>
#include <shlobj.h>

namespace {

TEST(ShellPaths, APathThatDoesNotFitMaxPathIsRefusedWhole)
{
    std::wstring path;
    const std::wstring folder(249, L'f');
    EXPECT_EQ(0u, ferrolink::join_within_max_path(folder, L"\\123456789", path));  // 259 characters
    EXPECT_EQ(259u, path.size());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), ferrolink::join_within_max_path(folder, L"\\1234567890", path));
    EXPECT_EQ(folder + L"\\1234567890", path);
}

TEST(ShellPaths, AShellFolderPathIsTheFolderAndTheSuffix)
{
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE));
    std::wstring path;
    EXPECT_EQ(0u, ferrolink::path_in_shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY, L"\\Orvane Ferrolink.lnk", path));
    EXPECT_EQ(std::wstring(desktop) + L"\\Orvane Ferrolink.lnk", path);
}

} // namespace
