// Which file or folder a handle is on, whatever path led there.
#include "fake_client/common.h"
#include "footprint/linkless_path.h"
#include "mcl/mswin/unique_resource.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace fltest;
using mcl::mswin::unique_handle;

namespace {

unique_handle open_as_itself(const std::wstring& path)
{
    return unique_handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

TEST(file_identity, another_name_for_a_file_or_folder_is_the_same_object_and_a_copy_is_not)
{
    temp_folder folder;
    const std::wstring root = folder / L"Ferrolink";
    ASSERT_EQ(0u, fake_client::create_folders(root + L"\\bin"));
    ASSERT_EQ(0u, fake_client::create_folders(folder / L"Other"));
    write_text(root + L"\\bin\\a.dll", "a");
    ASSERT_TRUE(::CreateHardLinkW((folder / L"linked.dll").c_str(), (root + L"\\bin\\a.dll").c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW((root + L"\\bin\\a.dll").c_str(), (folder / L"copy.dll").c_str(), TRUE));
    const struct {
        const char* what;
        std::wstring first;
        std::wstring second;
        bool same;
    } cases[] = {
        {"a path with \"..\" and another letter case", root, folder / L"Other\\..\\FERROLINK", true},
        {"a hard link", root + L"\\bin\\a.dll", folder / L"linked.dll", true},
        {"a folder and the one beside it", root, folder / L"Other", false},
        {"a file and its copy", root + L"\\bin\\a.dll", folder / L"copy.dll", false},
        {"a folder and a file in it", root + L"\\bin", root + L"\\bin\\a.dll", false},
    };
    for (const auto& c : cases) {
        const unique_handle first = open_as_itself(c.first);
        const unique_handle second = open_as_itself(c.second);
        ASSERT_TRUE(first && second) << c.what;
        ferrolink::file_identity one;
        ferrolink::file_identity other;
        ASSERT_TRUE(ferrolink::identity_of(first.get(), one) && ferrolink::identity_of(second.get(), other)) << c.what;
        EXPECT_EQ(c.same, one == other) << c.what;
        EXPECT_EQ(c.same, ferrolink::same_object(first.get(), second.get())) << c.what;
    }
}

} // namespace
