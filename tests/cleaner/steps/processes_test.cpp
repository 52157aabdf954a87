#include "captured_log.h"
#include "cleaner/steps/processes.h"
#include "cleaner/mechanisms/run_privileges.h"
#include "mcl/mswin/unique_resource.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace fltest;

namespace {

class ProcessStop : public ::testing::Test {
protected:
    temp_folder folder_;
};

TEST_F(ProcessStop, StopsARunningProcessAndLogsNothing)
{
    const std::wstring name = unique_name(L"flstop") + L".exe";
    child_process child(copy_sleeper(folder_.path(), name));
    ASSERT_TRUE(child.started());
    captured_log log;
    EXPECT_EQ(0, cleaner::stop_process(name.c_str()));
    EXPECT_TRUE(child.wait(10000));
    EXPECT_EQ("", log.text());
}

TEST_F(ProcessStop, MatchesNamesWhateverTheirCase)
{
    const std::wstring base = unique_name(L"FlCase");
    std::wstring lower = base + L".exe";
    ::CharLowerW(&lower[0]);
    child_process child(copy_sleeper(folder_.path(), lower));
    ASSERT_TRUE(child.started());
    EXPECT_EQ(0, cleaner::stop_process((base + L".EXE").c_str()));
    EXPECT_TRUE(child.wait(10000));
}

// Every session runs its own copy: one call ends all of them and waits until they have ended, logging nothing.
TEST_F(ProcessStop, EndsEveryCopyOfANameInOneCall)
{
    const std::wstring name = unique_name(L"fltwin") + L".exe";
    const std::wstring image = copy_sleeper(folder_.path(), name);
    child_process first(image);
    child_process second(image);
    ASSERT_TRUE(first.started() && second.started());
    captured_log log;
    EXPECT_EQ(0, cleaner::stop_process(name.c_str()));
    EXPECT_FALSE(first.running());
    EXPECT_FALSE(second.running());
    EXPECT_EQ("", log.text());
    EXPECT_EQ(1, cleaner::stop_process(name.c_str()));
}

TEST_F(ProcessStop, NothingRunningGivesOne)
{
    EXPECT_EQ(1, cleaner::stop_process(unique_name(L"flabsent").append(L".exe").c_str()));
}

// Whole names are compared character by character: neither a longer name with the same beginning nor one
// with a soft hyphen, which a linguistic comparison ignores, is a match.
TEST_F(ProcessStop, ANameThatIsNotTheWholeNameIsNotAMatch)
{
    const std::wstring name = unique_name(L"flmiss");
    const std::wstring soft_hyphen = name.substr(0, 2) + L"\u00AD" + name.substr(2);
    for (const std::wstring& running : {name + L".exe.bak.exe", soft_hyphen + L".exe"}) {
        SCOPED_TRACE(narrow(running));
        child_process child(copy_sleeper(folder_.path(), running));
        ASSERT_TRUE(child.started());
        captured_log log;
        EXPECT_EQ(1, cleaner::stop_process((name + L".exe").c_str()));
        EXPECT_TRUE(child.running());
        EXPECT_EQ("", log.text());
    }
}

// The names of the privileges enabled in this process's token.
std::set<std::wstring> enabled_privileges()
{
    std::set<std::wstring> names;
    mcl::mswin::unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return names;
    std::vector<BYTE> buffer(8192);
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &size))
        return names;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        LUID luid = privileges->Privileges[i].Luid;
        wchar_t name[128] = {};
        DWORD length = 128;
        if ((privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) &&
            ::LookupPrivilegeNameW(nullptr, &luid, name, &length))
            names.insert(name);
    }
    return names;
}

// An elevated administrator holds SeDebugPrivilege disabled; step 1 needs it for the processes of other
// accounts. The run enables that one, and no other.
TEST(RunPrivileges, OnlyTheDebugPrivilegeIsEnabled)
{
    std::set<std::wstring> expected = enabled_privileges();
    ASSERT_EQ(0u, expected.count(L"SeDebugPrivilege"));
    expected.insert(L"SeDebugPrivilege");
    EXPECT_TRUE(cleaner::enable_run_privileges());
    EXPECT_EQ(expected, enabled_privileges());
}

} // namespace
