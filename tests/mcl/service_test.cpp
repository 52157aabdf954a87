#include "mcl/mswin/service.h"
#include "mcl/mswin/service_process.h"

#include "captured_mcl_log.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

using mcl::mswin::unique_hlocal;
using mcl::mswin::unique_schandle;

// Our test service installed under a unique name (demand start), stopped and deleted at the end.
class installed_service {
public:
    explicit installed_service(const std::wstring& options, const wchar_t* dependencies = nullptr)
        : name_(fltest::unique_name(L"mcl_svc_")),
          binary_path_(L"\"" + fltest::bin_path(L"test_service.exe") + L"\"" + options),
          manager_(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS))
    {
        if (!manager_)
            return;
        service_.reset(::CreateServiceW(manager_.get(), name_.c_str(), (L"Display " + name_).c_str(),
                                        SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                        SERVICE_ERROR_NORMAL, binary_path_.c_str(), nullptr, nullptr, dependencies,
                                        nullptr, nullptr));
    }

    ~installed_service()
    {
        if (!service_)
            return;
        SERVICE_STATUS status{};
        if (::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status)) {
            for (int i = 0; i < 100 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
                ::Sleep(50);
                ::QueryServiceStatus(service_.get(), &status);
            }
        }
        ::DeleteService(service_.get());
    }

    bool installed() const { return static_cast<bool>(service_); }
    std::string name() const { return fltest::narrow(name_); }
    const std::wstring& wide_name() const { return name_; }
    const std::wstring& binary_path() const { return binary_path_; }
    SC_HANDLE handle() const { return service_.get(); }

private:
    std::wstring name_;
    std::wstring binary_path_;
    unique_schandle manager_;
    unique_schandle service_;
};

bool inside(const mcl::binary_t& buffer, const void* p)
{
    const auto* at = static_cast<const unsigned char*>(p);
    return at >= buffer.data() && at < buffer.data() + buffer.size();
}

TEST(Service, MissingServiceIsNeitherInstalledNorRunningNorStartable)
{
    fltest::captured_mcl_log log;
    const std::string name = fltest::narrow(fltest::unique_name(L"mcl_absent_"));
    EXPECT_FALSE(mcl::mswin::service::is_installed(name.c_str()));
    EXPECT_FALSE(mcl::mswin::service::is_running(name.c_str()));

    bool exists = true;
    mcl::binary_t config;
    EXPECT_FALSE(mcl::mswin::service::query_config(name.c_str(), exists, config));
    EXPECT_FALSE(exists);
    exists = true;
    EXPECT_FALSE(mcl::mswin::service::query_config_w(name.c_str(), exists, config));
    EXPECT_FALSE(exists);

    EXPECT_FALSE(mcl::mswin::service::start(name.c_str()));
    EXPECT_TRUE(log.contains("[mcl::mswin::service::start:747] - OpenServiceA failed (1060)\n")) << log.text();
}

TEST(Service, ConfigurationCopyIsSelfContained)
{
    installed_service svc(L" --start-pending 10");
    ASSERT_TRUE(svc.installed());
    EXPECT_TRUE(mcl::mswin::service::is_installed(svc.name().c_str()));
    EXPECT_FALSE(mcl::mswin::service::is_running(svc.name().c_str()));

    bool exists = false;
    mcl::binary_t config;
    ASSERT_TRUE(mcl::mswin::service::query_config(svc.name().c_str(), exists, config));
    EXPECT_TRUE(exists);
    const QUERY_SERVICE_CONFIGA* record = mcl::mswin::service::config_record(config);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(record->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    for (const char* text : {record->lpBinaryPathName, record->lpDependencies, record->lpDisplayName,
                             record->lpLoadOrderGroup, record->lpServiceStartName})
        EXPECT_TRUE(inside(config, text));
    EXPECT_EQ(std::string(record->lpBinaryPathName), fltest::narrow(svc.binary_path()));
    EXPECT_EQ(std::string(record->lpDisplayName), "Display " + svc.name());
    EXPECT_EQ(std::string(record->lpLoadOrderGroup), "");
    EXPECT_EQ(std::string(record->lpServiceStartName), "LocalSystem");

    // A copy of the buffer is a copy of bytes: its pointers still aim at the original.
    mcl::binary_t copied(config);
    EXPECT_EQ(mcl::mswin::service::config_record(copied)->lpDisplayName, record->lpDisplayName);
}

// Wine keeps no dependencies in the configuration it returns, so the list is checked on a record of our own.
TEST(Service, CopyKeepsEveryDependencyAndFillsMissingStrings)
{
    char path[] = "\"C:\\svc.exe\" -x";
    char dependencies[] = "first\0second\0\0tail";
    char display[] = "Shown";
    QUERY_SERVICE_CONFIGA raw{};
    raw.dwStartType = SERVICE_AUTO_START;
    raw.lpBinaryPathName = path;
    raw.lpDependencies = dependencies;
    raw.lpDisplayName = display;

    mcl::binary_t config;
    ASSERT_TRUE(mcl::mswin::service::copy_config(raw, config));
    const QUERY_SERVICE_CONFIGA* record = mcl::mswin::service::config_record(config);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(std::string(record->lpBinaryPathName), path);
    EXPECT_EQ(std::string(record->lpDependencies, 14), std::string("first\0second\0\0", 14));
    EXPECT_EQ(record->lpDisplayName, record->lpDependencies + 14);  // "tail" stayed behind
    EXPECT_EQ(std::string(record->lpDisplayName), "Shown");
    EXPECT_EQ(std::string(record->lpLoadOrderGroup), "");
    EXPECT_EQ(std::string(record->lpServiceStartName), "");
    EXPECT_EQ(config.size(), sizeof(QUERY_SERVICE_CONFIGA) + sizeof path + 14 + sizeof display + 1 + 1);

    wchar_t wide_dependencies[] = L"one\0two\0";
    QUERY_SERVICE_CONFIGW wide{};
    wide.lpDependencies = wide_dependencies;
    ASSERT_TRUE(mcl::mswin::service::copy_config(wide, config));
    const QUERY_SERVICE_CONFIGW* wide_record = mcl::mswin::service::config_record_w(config);
    EXPECT_EQ(std::wstring(wide_record->lpDependencies, 9), std::wstring(L"one\0two\0\0", 9));
    EXPECT_EQ(std::wstring(wide_record->lpBinaryPathName), L"");
    EXPECT_EQ(config.size(), sizeof(QUERY_SERVICE_CONFIGW) + 2 + 18 + 2 + 2 + 2);
}

TEST(Service, WideConfigurationCopyHoldsUtf16Strings)
{
    installed_service svc(L"");
    ASSERT_TRUE(svc.installed());
    bool exists = false;
    mcl::binary_t config;
    ASSERT_TRUE(mcl::mswin::service::query_config_w(svc.name().c_str(), exists, config));
    EXPECT_TRUE(exists);
    const QUERY_SERVICE_CONFIGW* record = mcl::mswin::service::config_record_w(config);
    ASSERT_NE(record, nullptr);
    for (const wchar_t* text : {record->lpBinaryPathName, record->lpDependencies, record->lpDisplayName,
                                record->lpLoadOrderGroup, record->lpServiceStartName})
        EXPECT_TRUE(inside(config, text));
    EXPECT_EQ(std::wstring(record->lpBinaryPathName), svc.binary_path());
    EXPECT_EQ(std::wstring(record->lpDisplayName), L"Display " + svc.wide_name());
    EXPECT_EQ(std::wstring(record->lpDependencies), L"");
    EXPECT_EQ(std::wstring(record->lpServiceStartName), L"LocalSystem");
}

TEST(Service, StartWaitsThroughStartPendingAndRefusesARunningService)
{
    fltest::captured_mcl_log log;
    installed_service svc(L" --start-pending 2500");
    ASSERT_TRUE(svc.installed());
    const DWORD before = ::GetTickCount();
    ASSERT_TRUE(mcl::mswin::service::start(svc.name().c_str())) << log.text();
    EXPECT_GE(::GetTickCount() - before, 2500u);
    EXPECT_TRUE(mcl::mswin::service::is_running(svc.name().c_str()));

    EXPECT_FALSE(mcl::mswin::service::start(svc.name().c_str()));
    EXPECT_TRUE(log.contains("[mcl::mswin::service::start:742] - StartService <" + svc.name() + "> failed (1056)\n"))
        << log.text();
}

// The reported process counts as the service's only while it runs the program the configuration names: an id
// the manager still reports may have passed to another process.
TEST(Service, ProcessIsTheServicesOnlyWhileItRunsTheConfiguredProgram)
{
    installed_service svc(L"");
    ASSERT_TRUE(svc.installed());
    ASSERT_TRUE(mcl::mswin::service::start(svc.name().c_str()));
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    ASSERT_TRUE(::QueryServiceStatusEx(svc.handle(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                       sizeof(status), &needed));
    const std::wstring folder = fltest::bin_path(L"");
    const struct {
        std::wstring configured;
        bool found;
    } cases[] = {
        {svc.binary_path(), true},
        {folder + L"TEST_SERVICE.EXE --no-stop", true},
        {L"\"" + folder + L"sleeper.exe\" test_service.exe", false},
        {folder + L"test_service.exe.bak", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fltest::narrow(c.configured));
        ASSERT_TRUE(::ChangeServiceConfigW(svc.handle(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                           c.configured.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr));
        const mcl::mswin::unique_handle process = mcl::mswin::open_service_process(svc.handle(), SYNCHRONIZE);
        EXPECT_EQ(c.found, static_cast<bool>(process));
        if (process) {
            EXPECT_EQ(status.dwProcessId, ::GetProcessId(process.get()));
        }
    }
}

TEST(Service, GetSidWithoutAnOutParameterIsRefused)
{
    fltest::captured_mcl_log log;
    EXPECT_FALSE(mcl::mswin::service::get_sid("anything", nullptr));
    EXPECT_TRUE(log.contains("[mcl::mswin::service::get_sid:816] - service - [get_sid] invalid parameter\n"));
}

TEST(Service, GetSidOfAnUnknownAccountFailsButHandsOverTheBlock)
{
    fltest::captured_mcl_log log;
    unique_hlocal sid;
    const std::string name = fltest::narrow(fltest::unique_name(L"mcl_absent_"));
    EXPECT_FALSE(mcl::mswin::service::get_sid(name.c_str(), &sid));
    ASSERT_TRUE(sid);
    EXPECT_GE(::LocalSize(sid.get()), 32u);
    EXPECT_TRUE(log.contains("[mcl::mswin::service::get_sid:911] - service - [get_sid] LookupAccountNameW failed. "
                             "GetLastError returned: 1332\n"))
        << log.text();
}

TEST(Service, GetSidOfAnInstalledService)
{
    installed_service svc(L"");
    ASSERT_TRUE(svc.installed());
    fltest::captured_mcl_log log;
    unique_hlocal sid;
    const bool found = mcl::mswin::service::get_sid(svc.name().c_str(), &sid);
    ASSERT_TRUE(sid);
    if (!found && log.contains("GetLastError returned: 1332"))
        GTEST_SKIP() << "this platform has no virtual service accounts (NT SERVICE\\ lookup fails with 1332)";
    ASSERT_TRUE(found) << log.text();
    EXPECT_TRUE(::IsValidSid(sid.get()));
    // S-1-5-80-...: the NT SERVICE authority.
    const SID_IDENTIFIER_AUTHORITY* authority = ::GetSidIdentifierAuthority(sid.get());
    EXPECT_EQ(authority->Value[5], 5);
    EXPECT_EQ(*::GetSidSubAuthority(sid.get(), 0), 80u);
}

} // namespace
