// The tree deleter, on folders of each test's own.
#include "captured_log.h"
#include "cleaner/mechanisms/folder_tree.h"
#include "cleaner/mechanisms/registry_tree.h"
#include "footprint/install_dir_guard.h"
#include "fake_client/common.h"
#include "fake_client/install_folder.h"
#include "log_lines.h"
#include "mcl/mswin/unique_resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace fltest;
using mcl::mswin::unique_handle;

namespace {

size_t index_of_line(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

void make_file(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    write_text(path, "x");
    ::SetFileAttributesW(path.c_str(), attributes);
}

// The Linux path of a Windows path, through Wine's own translation; empty outside Wine.
std::string unix_path(const std::wstring& path)
{
    using to_unix = char*(CDECL*)(const wchar_t*);
    const FARPROC export_address = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    const auto translate = reinterpret_cast<to_unix>(reinterpret_cast<void*>(export_address));
    if (translate == nullptr)
        return std::string();
    char* unix_name = translate(path.c_str());
    if (unix_name == nullptr)
        return std::string();
    std::string result = unix_name;
    ::HeapFree(::GetProcessHeap(), 0, unix_name);
    return result;
}

// Starts a Linux program (Wine runs those too) and waits until `done` holds: a Linux child cannot be waited
// for through its handle.
template <typename Done>
bool run_linux(std::wstring command, Done done)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    for (int tries = 0; tries < 100; ++tries) {
        if (done())
            return true;
        ::Sleep(50);
    }
    return false;
}

std::wstring in_quotes(const std::string& text)
{
    return L"\"" + widen(text) + L"\"";
}

// A Linux symbolic link at `folder`\`name` to `target`, which Wine shows as a folder with the reparse-point
// attribute; removed again on destruction. Win32 cannot remove it under Wine, so Linux's rm does.
class unix_link {
public:
    unix_link(const std::wstring& target, const std::wstring& folder, const std::wstring& name)
        : path_(folder + L"\\" + name), unix_path_(unix_path(folder) + "/" + narrow(name))
    {
        const std::string target_unix = unix_path(target);
        made_ = !target_unix.empty() && unix_path_.front() == '/' &&
                run_linux(L"Z:\\bin\\ln -s " + in_quotes(target_unix) + L" " + in_quotes(unix_path_),
                          [this] { return exists(path_); });
    }
    ~unix_link()
    {
        if (made_)
            run_linux(L"Z:\\bin\\rm " + in_quotes(unix_path_), [this] { return !exists(path_); });
    }
    unix_link(const unix_link&) = delete;
    unix_link& operator=(const unix_link&) = delete;
    bool made() const { return made_; }

private:
    std::wstring path_;
    std::string unix_path_;
    bool made_ = false;
};

class FolderTree : public ::testing::Test {
protected:
    std::string path(const std::wstring& relative) const { return narrow(folder_ / relative); }
    temp_folder folder_;
};

TEST_F(FolderTree, NestedFoldersGoBottomUpAndAReadOnlyFileIsDeleted)
{
    const std::wstring root = folder_ / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::create_folders(root + L"\\a\\b"));
    make_file(root + L"\\a\\b\\c.sys", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    captured_log log;
    EXPECT_EQ(0u, cleaner::delete_folder_tree(root));
    const std::string r = narrow(root);
    EXPECT_EQ("\tTry to delete file [" + r + "\\a\\b\\c.sys]...succeed\n"
              "\tTry to delete folder [" + r + "\\a\\b]...succeed\n"
              "\tTry to delete folder [" + r + "\\a]...succeed\n"
              "\tTry to delete folder [" + r + "]...succeed\n",
              log.text());
    EXPECT_FALSE(exists(root));
}

TEST_F(FolderTree, AWholeInstallationGoesAndEachFolderAfterItsContents)
{
    const std::wstring root = folder_ / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::make_install_tree(root));
    const std::vector<std::wstring> entries = fake_client::list_tree(root);
    captured_log log;
    EXPECT_EQ(0u, cleaner::delete_folder_tree(root));
    EXPECT_FALSE(exists(root));
    const std::vector<std::string> lines = lines_of(log.text());
    ASSERT_EQ(entries.size() + 1, lines.size());
    const std::string r = narrow(root);
    const size_t root_line = index_of_line(lines, "\tTry to delete folder [" + r + "]...succeed");
    EXPECT_EQ(lines.size() - 1, root_line);
    for (const std::wstring& entry : entries) {
        const bool is_folder = entry.back() == L'\\';
        const std::string full = r + "\\" + narrow(is_folder ? entry.substr(0, entry.size() - 1) : entry);
        const size_t at = index_of_line(lines, std::string(is_folder ? "\tTry to delete folder [" : "\tTry to delete file [") +
                                                   full + "]...succeed");
        ASSERT_LT(at, lines.size()) << full;
        const size_t parent_end = full.find_last_of('\\');
        const size_t parent = index_of_line(lines, "\tTry to delete folder [" + full.substr(0, parent_end) + "]...succeed");
        EXPECT_LT(at, parent) << full;
    }
}

TEST_F(FolderTree, AMissingFolderCountsAsDeleted)
{
    captured_log log;
    EXPECT_EQ(0u, cleaner::delete_folder_tree(folder_ / L"absent"));
    EXPECT_EQ("\tCannot find [" + path(L"absent") + "] file or folder\n", log.text());
}

// Only a search that finds nothing there means "already deleted"; one that cannot even look (here: a path
// too long for the narrow calls) must not report the folder as gone.
TEST_F(FolderTree, APathThatCannotBeSearchedIsAFailureNotAMissingFolder)
{
    const std::string too_long = path(std::wstring(300, L'f'));
    captured_log log;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), cleaner::delete_folder_tree(widen(too_long)));
    EXPECT_EQ("\tCannot find [" + too_long + "] file or folder\n", log.text());
}

TEST_F(FolderTree, AFileThatCannotBeDeletedStopsEverythingWithItsCode)
{
    const std::wstring root = folder_ / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::create_folders(root));
    make_file(root + L"\\busy.dll");
    const unique_handle busy(
        ::CreateFileW((root + L"\\busy.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy);
    captured_log log;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), cleaner::delete_folder_tree(root));
    EXPECT_EQ("\tTry to delete file [" + narrow(root) + "\\busy.dll]...failed\n", log.text());
    EXPECT_TRUE(exists(root + L"\\busy.dll"));
}

// Fullwidth dots and backslash are names like any other: a narrow listing would best-fit them into "..\"
// and lead the walk out of the tree. The log shows them as UTF-8.
TEST_F(FolderTree, NamesAreUsedExactlyAndNeverLeadOutOfTheTree)
{
    const std::wstring root = folder_ / L"Ferrolink";
    const std::wstring lookalike = L"\uFF0E\uFF0E\uFF3Cvictim";
    ASSERT_EQ(0u, fake_client::create_folders(root + L"\\" + lookalike));
    make_file(root + L"\\" + lookalike + L"\\inner.txt");
    ASSERT_EQ(0u, fake_client::create_folders(folder_ / L"victim"));
    make_file(folder_ / L"victim\\keep.txt");
    captured_log log;
    EXPECT_EQ(0u, cleaner::delete_folder_tree(root));
    EXPECT_FALSE(exists(root));
    EXPECT_TRUE(exists(folder_ / L"victim\\keep.txt"));
    const std::string r = narrow(root);
    const std::string shown = r + "\\\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\xBC" "victim";
    EXPECT_EQ("\tTry to delete file [" + shown + "\\inner.txt]...succeed\n"
              "\tTry to delete folder [" + shown + "]...succeed\n"
              "\tTry to delete folder [" + r + "]...succeed\n",
              log.text());
}

// The walk holds each folder without sharing delete; a folder someone else holds that way (a command prompt
// standing in it) is still emptied, and only its own removal fails.
TEST_F(FolderTree, AFolderHeldWithoutDeleteSharingIsEmptiedAndItsRemovalFails)
{
    const std::wstring root = folder_ / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::create_folders(root));
    make_file(root + L"\\a.dll");
    const unique_handle held(::CreateFileW(root.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(held);
    captured_log log;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), cleaner::delete_folder_tree(root));
    EXPECT_EQ("\tTry to delete file [" + narrow(root) + "\\a.dll]...succeed\n"
              "\tTry to delete folder [" + narrow(root) + "]...failed\n",
              log.text());
    EXPECT_FALSE(exists(root + L"\\a.dll"));
}

// A link inside the installation must never lead the deletion to what it points at.
TEST_F(FolderTree, ALinkedFolderIsNeverFollowed)
{
    const std::wstring target = folder_ / L"precious";
    ASSERT_EQ(0u, fake_client::create_folders(target + L"\\inner"));
    make_file(target + L"\\document.txt");
    make_file(target + L"\\inner\\photo.jpg");
    const std::wstring root = folder_ / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::create_folders(root));
    const unix_link link(target, root, L"link");
    if (!link.made())
        GTEST_SKIP() << "no way to make a link here";
    const DWORD attributes = ::GetFileAttributesW((root + L"\\link").c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);

    captured_log log;
    const DWORD result = cleaner::delete_folder_tree(root);
    const std::string text = log.text();
    // Wine cannot remove such a link through Win32, so the step fails, with the link's own line and code.
    EXPECT_NE(0u, result);
    EXPECT_EQ("\tTry to delete folder [" + narrow(root) + "\\link]...failed\n", text);
    EXPECT_TRUE(exists(target + L"\\document.txt"));
    EXPECT_TRUE(exists(target + L"\\inner\\photo.jpg"));
}

TEST_F(FolderTree, ALinkedRootIsRemovedAsALinkOnly)
{
    const std::wstring target = folder_ / L"precious";
    ASSERT_EQ(0u, fake_client::create_folders(target));
    make_file(target + L"\\document.txt");
    const unix_link link(target, folder_.path(), L"Ferrolink");
    if (!link.made())
        GTEST_SKIP() << "no way to make a link here";
    captured_log log;
    EXPECT_NE(0u, cleaner::delete_folder_tree(folder_ / L"Ferrolink"));
    EXPECT_EQ("\tTry to delete folder [" + path(L"Ferrolink") + "]...failed\n", log.text());
    EXPECT_TRUE(exists(target + L"\\document.txt"));
}

// A link on the way to the folder is never passed: a user who can create folders there could otherwise point
// the walk at any folder of the machine.
TEST_F(FolderTree, ALinkAboveTheFolderIsRefusedAndNothingBehindItGoes)
{
    const std::wstring target = folder_ / L"precious";
    ASSERT_EQ(0u, fake_client::create_folders(target + L"\\Ferrolink"));
    make_file(target + L"\\Ferrolink\\document.txt");
    const unix_link link(target, folder_.path(), L"Orvane");
    if (!link.made())
        GTEST_SKIP() << "no way to make a link here";
    captured_log log;
    EXPECT_EQ(static_cast<DWORD>(ERROR_REPARSE_ATTRIBUTE_CONFLICT),
              cleaner::delete_folder_tree(folder_ / L"Orvane\\Ferrolink"));
    EXPECT_EQ("\tCannot find [" + path(L"Orvane\\Ferrolink") + "] file or folder\n", log.text());
    EXPECT_TRUE(exists(target + L"\\Ferrolink\\document.txt"));
    std::wstring registered;
    const std::wstring through = folder_ / L"Orvane\\Ferrolink";
    EXPECT_EQ(static_cast<int>(ferrolink::install_dir_verdict::through_link),
              static_cast<int>(ferrolink::check_install_dir(through.c_str(), through.size() + 1, registered)));
}

// The walk starts from what was checked, not from the path: a folder swapped in under the checked name after
// the check (here by a rename; Wine cannot make a junction) is not what may be deleted, and neither goes.
TEST_F(FolderTree, AFolderSwappedAfterTheCheckIsLeftAlone)
{
    const std::wstring root = folder_ / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::create_folders(root));
    make_file(root + L"\\a.dll");
    ferrolink::held_item checked;
    ASSERT_EQ(0u, ferrolink::open_without_links(root, checked));
    ASSERT_TRUE(::MoveFileW(root.c_str(), (folder_ / L"moved").c_str()));
    ASSERT_EQ(0u, fake_client::create_folders(root));
    make_file(root + L"\\planted.txt");
    captured_log log;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_INVALID), cleaner::delete_folder_tree(root, checked));
    EXPECT_EQ("\tCannot find [" + path(L"Ferrolink") + "] file or folder\n", log.text());
    EXPECT_TRUE(exists(root + L"\\planted.txt"));
    EXPECT_TRUE(exists(folder_ / L"moved\\a.dll"));
}

// Another process that holds `path` open, with every sharing mode, for `seconds`: the file is opened
// inheritable, the sleeper inherits it, and this process lets go of its own handle at once.
class holder {
public:
    holder(const std::wstring& path, int seconds)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        const unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                               OPEN_EXISTING, 0, nullptr));
        std::wstring line = L"\"" + bin_path(L"sleeper.exe") + L"\" " + std::to_wstring(seconds);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (file && ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
            ::CloseHandle(info.hThread);
            process_.reset(info.hProcess);
        }
    }
    ~holder()
    {
        if (running() && ::TerminateProcess(process_.get(), 1))
            ::WaitForSingleObject(process_.get(), 5000);
    }
    holder(const holder&) = delete;
    holder& operator=(const holder&) = delete;
    bool running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

private:
    unique_handle process_;
};

// A scanner that holds a deleted file open with delete sharing: without POSIX semantics the file stays listed
// and its folder refuses (145) until the holder lets go, here within the walk's 2 s of retries.
TEST_F(FolderTree, AFolderGoesOnceAnotherProcessLetsGoOfADeletedFile)
{
    const std::wstring root = folder_ / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::create_folders(root));
    make_file(root + L"\\held.dll");
    make_file(root + L"\\other.dll");
    const holder scanner(root + L"\\held.dll", 1);
    ASSERT_TRUE(scanner.running());
    captured_log log;
    const ULONGLONG began = ::GetTickCount64();
    EXPECT_EQ(0u, cleaner::delete_folder_tree(root));
    const ULONGLONG took = ::GetTickCount64() - began;
    EXPECT_FALSE(exists(root));
    EXPECT_GE(took, 500u) << "the holder did not hold the file";
    EXPECT_LT(took, 2500u);
    std::vector<std::string> lines = lines_of(log.text());
    std::sort(lines.begin(), lines.end());
    const std::string r = narrow(root);
    EXPECT_EQ((std::vector<std::string>{"\tTry to delete file [" + r + "\\held.dll]...succeed",
                                        "\tTry to delete file [" + r + "\\other.dll]...succeed",
                                        "\tTry to delete folder [" + r + "]...succeed"}),
              lines);
}

// Whether this system deletes a read-only file as it is (FileDispositionInfoEx with the flags delete, POSIX
// semantics and ignore read-only, Windows 10 1809 and later).
bool deletes_read_only_files_as_they_are(const std::wstring& folder)
{
    const std::wstring probe = folder + L"\\probe.dat";
    make_file(probe, FILE_ATTRIBUTE_READONLY);
    struct {
        DWORD flags;
    } disposition = {0x13};
    bool done = false;
    {
        const unique_handle file(::CreateFileW(probe.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        done = file && ::SetFileInformationByHandle(file.get(), static_cast<FILE_INFO_BY_HANDLE_CLASS>(21),
                                                    &disposition, sizeof(disposition));
    }
    ::SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(probe.c_str());
    return done;
}

// A hard link in the tree shares its attributes with a file outside it: clearing them there would clear them
// on that file. The outside file keeps attributes and content; a read-only link goes only where the system
// deletes it as it is, and is otherwise left with its line (ERROR_FILE_READ_ONLY ends the walk).
TEST_F(FolderTree, AHardLinkLeavesTheFileOutsideAsItWas)
{
    const bool as_they_are = deletes_read_only_files_as_they_are(folder_.path());
    const struct {
        const wchar_t* name;
        DWORD attributes;
        bool link_goes;
    } cases[] = {
        {L"read_only", FILE_ATTRIBUTE_READONLY, as_they_are},
        {L"hidden_system", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.name));
        const std::wstring outside = folder_ / (std::wstring(c.name) + L".dat");
        write_text(outside, "precious");
        ASSERT_TRUE(::SetFileAttributesW(outside.c_str(), c.attributes));
        const DWORD before = ::GetFileAttributesW(outside.c_str());
        ASSERT_EQ(c.attributes, before & c.attributes);
        const std::wstring root = folder_ / (L"Ferrolink_" + std::wstring(c.name));
        ASSERT_EQ(0u, fake_client::create_folders(root));
        const std::wstring link = root + L"\\linked.dat";
        ASSERT_TRUE(::CreateHardLinkW(link.c_str(), outside.c_str(), nullptr));

        captured_log log;
        const DWORD result = cleaner::delete_folder_tree(root);
        EXPECT_EQ(before, ::GetFileAttributesW(outside.c_str()));
        ::SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ("precious", read_text(outside));
        if (c.link_goes) {
            EXPECT_EQ(0u, result);
            EXPECT_FALSE(exists(root));
        } else {
            EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_READ_ONLY), result);
            EXPECT_EQ("\tTry to delete file [" + narrow(link) + "]...failed\n", log.text());
        }
    }
}

// A path and a key name that the code page cannot hold go into one log in one encoding: UTF-8.
TEST_F(FolderTree, NonAsciiPathsAndKeysAreLoggedAsUtf8)
{
    const std::wstring root = folder_ / L"F\u00E9rrolink \u65E5\u672C";
    ASSERT_EQ(0u, fake_client::create_folders(root));
    make_file(root + L"\\a.dll");
    const std::wstring parent = L"Software\\" + unique_name(L"flutf8");
    const std::wstring key = parent + L"\\\u00DCn\u00EF\u65E5";
    mcl::mswin::unique_hkey profiles;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, (key + L"\\Profiles").c_str(), 0, nullptr, 0,
                                               KEY_WRITE, nullptr, profiles.put(), nullptr));
    profiles.reset();
    captured_log log;
    EXPECT_EQ(0u, cleaner::delete_folder_tree(root));
    EXPECT_EQ(0, cleaner::delete_registry_tree(HKEY_CURRENT_USER, key, true));
    const std::string text = log.text();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, parent.c_str());
    const std::string shown_root = narrow(folder_.path()) + "\\F\xC3\xA9rrolink \xE6\x97\xA5\xE6\x9C\xAC";
    const std::string shown_key = narrow(parent) + "\\\xC3\x9Cn\xC3\xAF\xE6\x97\xA5";
    EXPECT_NE(std::string::npos, text.find("\tTry to delete file [" + shown_root + "\\a.dll]...succeed\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\tFail to delete reg key [" + shown_key + "], lastError:")) << text;
}

} // namespace
