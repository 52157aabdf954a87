// The InstallDir guard: which registered folders may be deleted whole, and why the others may not.
#include "fake_client/common.h"
#include "footprint/install_dir_guard.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cwchar>
#include <vector>

using namespace fltest;

namespace {

// The registered value as the step reads it: into a cleared 1024-byte buffer.
bool usable(const std::string& value, std::string* folder = nullptr)
{
    const std::wstring wide = widen(value);
    wchar_t buffer[512] = {};
    std::wmemcpy(buffer, wide.data(), wide.size() < 512 ? wide.size() : 512);
    std::wstring registered;
    const bool result = ferrolink::usable_install_dir(buffer, 512, registered);
    if (folder != nullptr)
        *folder = narrow(registered);
    return result;
}

std::string shell(int csidl)
{
    return fake_client::to_narrow(fake_client::shell_folder(csidl));
}

TEST(InstallDirCheck, OrdinaryInstallationFoldersAreUsable)
{
    std::string folder;
    EXPECT_TRUE(usable(shell(CSIDL_PROGRAM_FILESX86) + "\\Orvane\\SSL-VPN\\Ferrolink", &folder));
    EXPECT_EQ(shell(CSIDL_PROGRAM_FILESX86) + "\\Orvane\\SSL-VPN\\Ferrolink", folder);
    EXPECT_TRUE(usable("D:\\Tools\\Ferrolink\\"));
    EXPECT_TRUE(usable("\\\\server\\share\\Ferrolink"));
}

TEST(InstallDirCheck, EmptyRelativeAndUnterminatedValuesAreNot)
{
    EXPECT_FALSE(usable(""));
    EXPECT_FALSE(usable("Orvane\\Ferrolink"));
    EXPECT_FALSE(usable("\\Orvane\\Ferrolink"));
    EXPECT_FALSE(usable("C:Ferrolink"));
    EXPECT_FALSE(usable("\\\\?\\C:\\Ferrolink"));
    const std::string unterminated(1024, 'C');
    EXPECT_FALSE(usable(unterminated));
    // Terminated, but too long for the narrow path calls that would have to delete it.
    EXPECT_FALSE(usable("C:\\" + std::string(1020, 'f')));
}

TEST(InstallDirCheck, RootsAndShellFoldersAreNot)
{
    for (const std::string root : {"C:", "C:\\", "c:\\\\", "C:\\Orvane\\..", "C:\\.", "C:/", "\\\\server\\share",
                                   "\\\\server\\share\\", "\\\\server"})
        EXPECT_FALSE(usable(root)) << root;
    for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROFILE,
                      CSIDL_COMMON_APPDATA, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_APPDATA}) {
        EXPECT_FALSE(usable(shell(csidl))) << shell(csidl);
        EXPECT_FALSE(usable(shell(csidl) + "\\")) << shell(csidl);
    }
    // A folder that holds the user profiles, spelt in another case.
    std::string users = shell(CSIDL_PROFILE);
    users = users.substr(0, users.find_last_of('\\'));
    for (char& c : users)
        c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    EXPECT_FALSE(usable(users)) << users;
    EXPECT_FALSE(usable(shell(CSIDL_PROGRAM_FILESX86) + "\\Orvane\\..")) << "Program Files through ..";
}

// An 8.3 alias names the same folder as its long name.
TEST(InstallDirCheck, AShortNameDoesNotHideAShellFolder)
{
    const std::string program_files = shell(CSIDL_PROGRAM_FILESX86);
    char alias[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetShortPathNameA(program_files.c_str(), alias, MAX_PATH));
    ASSERT_NE(program_files, alias) << "no short name here";
    EXPECT_FALSE(usable(alias)) << alias;
    EXPECT_FALSE(usable(std::string(alias) + "\\Orvane\\..")) << alias;
    EXPECT_TRUE(usable(std::string(alias) + "\\Orvane\\SSL-VPN\\Ferrolink")) << alias;
}

// Other names for the same folders: a share of this machine, an administrative share, stream syntax, and
// anything inside the Windows folder, the profiles root or a user profile.
TEST(InstallDirCheck, AliasesAndFoldersInsideGuardedTreesAreNot)
{
    const std::string windows = shell(CSIDL_WINDOWS);
    const std::string profile = shell(CSIDL_PROFILE);
    const std::string drive = windows.substr(0, 2);
    const std::string beside_windows = drive + "\\" + narrow(unique_name(L"flbeside"));
    for (const std::string& alias : std::vector<std::string>{"\\\\localhost\\C$\\Windows", "\\\\127.0.0.1\\c$\\users", "\\\\LOCALHOST\\share\\Ferrolink",
          "\\\\server\\admin$\\Ferrolink", windows + "::$INDEX_ALLOCATION", windows + ":$I30:$INDEX_ALLOCATION",
          beside_windows + ":stream", windows + "\\Temp\\Ferrolink", windows + "\\System32\\drivers",
          profile + "\\AppData\\Local\\Ferrolink", profile.substr(0, profile.find_last_of('\\')) + "\\Public\\x"})
        EXPECT_FALSE(usable(alias)) << alias;
    EXPECT_TRUE(usable(beside_windows)) << beside_windows;
}

// The reason a refusal gives is the one that holds, so that the audit can show it.
TEST(InstallDirCheck, ARefusalNamesItsReason)
{
    using ferrolink::install_dir_verdict;
    const std::string windows = shell(CSIDL_WINDOWS);
    const struct {
        std::string value;
        install_dir_verdict verdict;
    } cases[] = {
        {"", install_dir_verdict::empty},
        {"Orvane\\Ferrolink", install_dir_verdict::not_absolute},
        {"C:\\", install_dir_verdict::root},
        {windows + "::$INDEX_ALLOCATION", install_dir_verdict::stream_syntax},
        {"\\\\localhost\\share\\Ferrolink", install_dir_verdict::local_share},
        {shell(CSIDL_PROGRAM_FILES), install_dir_verdict::holds_system_folder},
        {windows + "\\Temp\\Ferrolink", install_dir_verdict::inside_windows},
        {shell(CSIDL_PROFILE) + "\\AppData\\Local\\Ferrolink", install_dir_verdict::inside_profiles},
        {shell(CSIDL_PROGRAM_FILESX86) + "\\Orvane\\SSL-VPN\\Ferrolink", install_dir_verdict::usable},
    };
    for (const auto& c : cases) {
        const std::wstring wide = widen(c.value);
        std::vector<wchar_t> buffer(512, L'\0');
        std::copy(wide.begin(), wide.end(), buffer.begin());
        std::wstring folder;
        const install_dir_verdict verdict = ferrolink::check_install_dir(buffer.data(), buffer.size(), folder);
        EXPECT_EQ(static_cast<int>(c.verdict), static_cast<int>(verdict)) << c.value;
        EXPECT_EQ(c.verdict == install_dir_verdict::usable, std::string(ferrolink::refusal_text(verdict)).empty());
    }
}

} // namespace
