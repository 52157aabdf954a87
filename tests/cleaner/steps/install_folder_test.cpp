// Step 5 on the client's fixed installation key and default folder.
#include "captured_log.h"
#include "cleaner/steps/install_folder.h"
#include "cleaner/mechanisms/restart_folder.h"
#include "fake_client/common.h"
#include "fake_client/install_folder.h"
#include "fake_client/pending_renames.h"
#include "footprint/pending_restart.h"
#include "log_lines.h"
#include "mcl/mswin/unique_resource.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>

using namespace fltest;
using mcl::mswin::unique_handle;

namespace {

const std::string kNotRegistered = "\tCan not find Ferrolink InstallDir in register,try to delete default path\n";
const std::string kSucceeded = "\tDelete files succeed, lastError:0\n";

// A folder at the root of the system drive, outside every user profile (inside one the step deletes
// nothing), removed with everything below it afterwards.
class machine_folder {
public:
    machine_folder()
    {
        wchar_t windows[MAX_PATH] = {};
        ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
        path_ = std::wstring(windows, 3) + unique_name(L"flinstall");
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~machine_folder() { remove_tree(path_); }
    machine_folder(const machine_folder&) = delete;
    machine_folder& operator=(const machine_folder&) = delete;
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

class FileRemoval : public ::testing::Test {
protected:
    void SetUp() override { remove_footprint(); }
    void TearDown() override { remove_footprint(); }

    void remove_footprint()
    {
        EXPECT_EQ(0u, fake_client::unregister_install_dir());
        EXPECT_EQ(0u, fake_client::remove_install_tree(default_folder_));
    }

    const std::wstring default_folder_ = fake_client::default_install_folder();
    machine_folder temp_;
};

TEST_F(FileRemoval, NothingRegisteredAndNothingInstalledPasses)
{
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_files());
    EXPECT_EQ(kNotRegistered + "\tCannot find [" + narrow(default_folder_) + "] file or folder\n" + kSucceeded,
              log.text());
}

TEST_F(FileRemoval, TheDefaultFolderGoesWhenNothingIsRegistered)
{
    ASSERT_EQ(0u, fake_client::make_install_tree(default_folder_));
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_files());
    const std::string text = log.text();
    EXPECT_TRUE(starts_with(text, kNotRegistered)) << text;
    EXPECT_TRUE(ends_with(text, "\tTry to delete folder [" + narrow(default_folder_) + "]...succeed\n" + kSucceeded))
        << text;
    EXPECT_FALSE(exists(default_folder_));
    // Only the installation folder itself, not the vendor folders above it.
    EXPECT_TRUE(exists(default_folder_.substr(0, default_folder_.find_last_of(L'\\'))));
}

// Only one folder is ever deleted: the registered one wins over the default.
TEST_F(FileRemoval, TheRegisteredFolderGoesAndTheDefaultOneStays)
{
    const std::wstring registered = temp_ / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::make_install_tree(registered));
    ASSERT_EQ(0u, fake_client::make_install_tree(default_folder_));
    ASSERT_EQ(0u, fake_client::register_install_dir(registered));
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_files());
    const std::string text = log.text();
    EXPECT_EQ(std::string::npos, text.find("Can not find Ferrolink InstallDir")) << text;
    EXPECT_TRUE(ends_with(text, "\tTry to delete folder [" + narrow(registered) + "]...succeed\n" + kSucceeded))
        << text;
    EXPECT_FALSE(exists(registered));
    EXPECT_TRUE(exists(default_folder_ + L"\\FLConfig.ini"));
}

// A REG_SZ value's bytes, terminator included.
std::string wide_bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

struct damaged_value {
    const char* what;
    DWORD type;
    std::string bytes;
};

// A value that is not a usable folder counts as not registered: the default folder is deleted, and the
// value's own target is left alone.
TEST_F(FileRemoval, ADamagedRegistrationFallsBackToTheDefaultFolder)
{
    const std::wstring windows = fake_client::shell_folder(CSIDL_WINDOWS);
    const damaged_value values[] = {
        {"binary without a terminator", REG_BINARY, std::string(1024, 'C')},
        {"empty string", REG_SZ, wide_bytes(L"")},
        {"drive root", REG_SZ, wide_bytes(windows.substr(0, 3))},
        {"Windows folder", REG_SZ, wide_bytes(windows)},
        {"number", REG_DWORD, std::string("C\0\0\0", 4)},
    };
    for (const damaged_value& value : values) {
        SCOPED_TRACE(value.what);
        ASSERT_EQ(0u, fake_client::set_install_dir_value(value.type, value.bytes.data(),
                                                       static_cast<DWORD>(value.bytes.size())));
        ASSERT_EQ(0u, fake_client::make_install_tree(default_folder_));
        captured_log log;
        EXPECT_EQ(1, cleaner::delete_files());
        const std::string text = log.text();
        EXPECT_TRUE(starts_with(text, kNotRegistered + "\tTry to delete ")) << text;
        EXPECT_TRUE(ends_with(text, kSucceeded)) << text;
        EXPECT_FALSE(exists(default_folder_));
        EXPECT_TRUE(exists(windows + L"\\system32"));
    }
}

// A value that is not a string type holds bytes, read as text of the active code page, as always.
TEST_F(FileRemoval, AFolderRegisteredAsNarrowBytesStillGoes)
{
    const std::wstring registered = temp_ / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::make_install_tree(registered));
    const std::string bytes = narrow(registered) + '\0';
    ASSERT_EQ(0u, fake_client::set_install_dir_value(REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size())));
    captured_log log;
    EXPECT_EQ(1, cleaner::delete_files());
    const std::string text = log.text();
    EXPECT_TRUE(ends_with(text, "\tTry to delete folder [" + narrow(registered) + "]...succeed\n" + kSucceeded))
        << text;
    EXPECT_FALSE(exists(registered));
}

// Lets every account change `folder` (Wine keeps that as the folder's mode, for Everyone).
void let_everyone_change(const std::wstring& folder)
{
    PSECURITY_DESCRIPTOR everyone = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                                       &everyone, nullptr));
    const mcl::mswin::unique_hlocal held(everyone);
    ASSERT_TRUE(::SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, everyone));
}

// A file in use goes at the next restart. A running program (5) is moved out into the restart folder at its
// volume's root, and its folders go now. A file held without sharing (32) cannot be moved: it is registered
// where it is, with its folders after it, only when no other account can change a folder on its path, and is
// otherwise left and fails the step. A restart folder that other accounts can change is not used.
TEST_F(FileRemoval, AFileInUseGoesAtRestartMovedOutWhereItCanBe)
{
    enum class outcome { moved, registered_in_place, left };
    const struct { const char* title; bool program, open_install_folder, planted_restart_folder; outcome expected; } cases[] = {
        {"a running program", true, false, false, outcome::moved},
        {"a file held without sharing", false, false, false, outcome::registered_in_place},
        {"a held file in a folder anyone may change", false, true, false, outcome::left},
        {"a running program and a planted restart folder", true, false, true, outcome::registered_in_place},
    };
    const std::wstring restart_folder = fake_client::shell_folder(CSIDL_WINDOWS).substr(0, 3) + cleaner::kRestartFolderName;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        cleaner::restart_required = false;
        const std::wstring registered = temp_ / unique_name(L"case");
        ASSERT_EQ(0u, fake_client::make_install_tree(registered));
        ASSERT_EQ(0u, fake_client::register_install_dir(registered));
        if (c.open_install_folder)
            let_everyone_change(registered);
        if (c.planted_restart_folder) {
            ASSERT_TRUE(::CreateDirectoryW(restart_folder.c_str(), nullptr));
            let_everyone_change(restart_folder);
        }
        const std::wstring bin = registered + L"\\bin";
        const std::wstring busy_path = bin + (c.program ? L"\\FLGui.exe" : L"\\FLService.dll");
        std::string text;
        std::vector<std::wstring> pending, moved;
        int result = -1;
        {
            unique_handle held;
            std::unique_ptr<child_process> running;
            if (c.program) {
                running = std::make_unique<child_process>(L"\"" + copy_sleeper(bin, L"FLGui.exe") + L"\"");
                ASSERT_TRUE(running->started());
            } else {
                held.reset(::CreateFileW(busy_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
                ASSERT_TRUE(held);
            }
            captured_log log;
            result = cleaner::delete_files();
            text = log.text();
            pending = ferrolink::paths_pending_deletion();
            moved = fake_client::list_tree(restart_folder);
            EXPECT_EQ(0u, fake_client::forget_pending_renames(registered));
            EXPECT_EQ(0u, fake_client::forget_pending_renames(restart_folder));
        }
        remove_tree(restart_folder);
        const std::string busy = narrow(busy_path);
        const std::string in_use = "\tTry to delete file [" + busy + "]...failed\n\tFile [" + busy + "] is in use";
        const auto at = [&pending](const std::wstring& path) { return std::find(pending.begin(), pending.end(), path); };
        EXPECT_EQ(c.expected == outcome::left ? 0 : 1, result);
        EXPECT_EQ(c.expected != outcome::left, cleaner::restart_required);
        EXPECT_EQ(c.expected != outcome::moved, exists(busy_path));
        EXPECT_EQ(c.expected == outcome::registered_in_place, at(busy_path) != pending.end());
        ASSERT_EQ(c.expected == outcome::moved ? 1u : 0u, moved.size());
        if (c.expected == outcome::moved) {
            EXPECT_NE(std::string::npos, text.find(in_use + ", it will be deleted when Windows restarts\n")) << text;
            EXPECT_FALSE(exists(registered));
            // The moved file, then the folder that holds it.
            EXPECT_TRUE(at(restart_folder + L"\\" + moved[0]) < at(restart_folder) && at(restart_folder) != pending.end());
        } else if (c.expected == outcome::left) {
            EXPECT_TRUE(ends_with(text, in_use + " and its folder is not protected, it is left\n"
                                                 "\tFailed to delete file, lastError:32\n"))
                << text;
        } else {
            const size_t file_line = text.find(in_use + ", it will be deleted when Windows restarts\n");
            const size_t bin_line = text.find("\tFolder [" + narrow(bin) + "] will be deleted when Windows restarts\n");
            EXPECT_LT(file_line, bin_line) << text;
            EXPECT_LT(bin_line, text.size()) << text;
            EXPECT_TRUE(ends_with(text, "\tFolder [" + narrow(registered) + "] will be deleted when Windows restarts\n" +
                                            kSucceeded))
                << text;
            const std::vector<std::wstring> left = {L"bin\\", busy_path.substr(registered.size() + 1)};
            EXPECT_EQ(left, fake_client::list_tree(registered));
            // Registered in the order they can go: the file, then the folder that held it, then the install folder.
            EXPECT_TRUE(at(busy_path) < at(bin) && at(bin) < at(registered));
            EXPECT_FALSE(ferrolink::is_pending_deletion(registered, ferrolink::paths_pending_deletion()));
        }
    }
}

// A folder someone holds open without delete sharing (a console whose current folder it is) is emptied and,
// where no other account can change a folder on its path, goes at restart with the install folder; the rest of
// the walk goes on. Under a folder anyone may change it stays, and the step fails.
TEST_F(FileRemoval, AFolderHeldOpenGoesAtRestartWhereItCanBe)
{
    for (const bool protected_path : {true, false}) {
        SCOPED_TRACE(protected_path ? "protected" : "a folder anyone may change");
        cleaner::restart_required = false;
        const std::wstring registered = temp_ / unique_name(L"held");
        ASSERT_EQ(0u, fake_client::make_install_tree(registered));
        ASSERT_EQ(0u, fake_client::register_install_dir(registered));
        if (!protected_path)
            let_everyone_change(registered);
        const std::wstring bin = registered + L"\\bin";
        std::string text;
        std::vector<std::wstring> pending;
        int result = -1;
        {
            const unique_handle held(::CreateFileW(bin.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            ASSERT_TRUE(held);
            captured_log log;
            result = cleaner::delete_files();
            text = log.text();
            pending = ferrolink::paths_pending_deletion();
            EXPECT_EQ(0u, fake_client::forget_pending_renames(registered));
        }
        const auto at = [&pending](const std::wstring& path) { return std::find(pending.begin(), pending.end(), path); };
        EXPECT_EQ(protected_path ? 1 : 0, result);
        EXPECT_EQ(protected_path, cleaner::restart_required);
        EXPECT_NE(std::string::npos, text.find("\tTry to delete folder [" + narrow(bin) + "]...failed\n")) << text;
        if (protected_path) {
            EXPECT_EQ(std::vector<std::wstring>{L"bin\\"}, fake_client::list_tree(registered));
            EXPECT_TRUE(at(bin) < at(registered) && at(registered) != pending.end());
        } else {
            EXPECT_TRUE(pending.empty() || at(bin) == pending.end());
        }
        fake_client::remove_install_tree(registered);
    }
}

} // namespace
