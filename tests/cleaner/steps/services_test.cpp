// Step 3 against the real Service Control Manager, with test_service.exe installed under names of each test.
#include "captured_log.h"
#include "cleaner/steps/services.h"
#include "fake_client/services.h"
#include "mcl/mswin/unique_resource.h"

#include <gtest/gtest.h>

using namespace fltest;

namespace {

// The step's wait limit in production; the tests that do not exercise the limit use it as well.
const DWORD kProductionLimitMs = 60000;

bool gone_within(const std::wstring& name, DWORD timeout_ms)
{
    for (DWORD waited = 0; waited < timeout_ms; waited += 100) {
        if (fake_client::service_state(name) == 0)
            return true;
        ::Sleep(100);
    }
    return false;
}

// The process of a running service, held so that it can be waited for.
mcl::mswin::unique_handle process_of(const std::wstring& name)
{
    const mcl::mswin::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const mcl::mswin::unique_schandle service(
        manager ? ::OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!service || !::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                            sizeof(status), &needed))
        return mcl::mswin::unique_handle();
    return mcl::mswin::unique_handle(::OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
}

class ServiceRemoval : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(0u, fake_client::remove_service(first_));
        EXPECT_EQ(0u, fake_client::remove_service(second_));
    }

    void install(const std::wstring& name, const fake_client::service_options& options = fake_client::service_options())
    {
        ASSERT_EQ(0u, fake_client::install_service(name, options));
    }

    int remove(DWORD limit_ms = kProductionLimitMs)
    {
        return cleaner::remove_services(first_.c_str(), second_.c_str(), limit_ms);
    }

    std::string absent_line(const std::wstring& name) { return narrow(name) + " have already uninstalled\n"; }

    const std::wstring first_ = unique_name(L"flsvc_a");
    const std::wstring second_ = unique_name(L"flsvc_b");
};

TEST_F(ServiceRemoval, NeitherServiceInstalledCountsAsSuccess)
{
    captured_log log;
    EXPECT_EQ(1, remove());
    EXPECT_EQ(absent_line(first_) + absent_line(second_) + "\tsucceed\n", log.text());
}

TEST_F(ServiceRemoval, RunningServicesAreStoppedAndDeleted)
{
    install(first_);
    install(second_);
    captured_log log;
    EXPECT_EQ(1, remove());
    EXPECT_EQ("\tsucceed\n", log.text());
    EXPECT_EQ(0u, fake_client::service_state(first_));
    EXPECT_EQ(0u, fake_client::service_state(second_));
}

TEST_F(ServiceRemoval, AStoppedServiceIsDeletedWithoutWaiting)
{
    fake_client::service_options stopped;
    stopped.start = false;
    install(second_, stopped);
    captured_log log;
    const ULONGLONG began = ::GetTickCount64();
    EXPECT_EQ(1, remove());
    EXPECT_LT(::GetTickCount64() - began, 2000u);
    EXPECT_EQ(absent_line(first_) + "\tsucceed\n", log.text());
    EXPECT_EQ(0u, fake_client::service_state(second_));
}

// The open fails for another reason than absence (a backslash is no valid name): one line with the code,
// and the other service decides the result.
TEST_F(ServiceRemoval, AnOpenFailureIsLoggedAndTheOtherServiceDecides)
{
    const std::string refused = "\tOpenService failed, LastError:123\n";
    install(second_);
    {
        captured_log log;
        EXPECT_EQ(1, cleaner::remove_services(L"flsvc\\one", second_.c_str(), kProductionLimitMs));
        EXPECT_EQ(refused + "\tsucceed\n", log.text());
        EXPECT_EQ(0u, fake_client::service_state(second_));
    }
    {
        captured_log log;
        EXPECT_EQ(1, cleaner::remove_services(L"flsvc\\one", second_.c_str(), kProductionLimitMs));
        EXPECT_EQ(refused + absent_line(second_) + "\tsucceed\n", log.text());
    }
    captured_log log;
    EXPECT_EQ(0, cleaner::remove_services(L"flsvc\\one", L"flsvc\\two", kProductionLimitMs));
    EXPECT_EQ(refused + refused, log.text());
}

TEST_F(ServiceRemoval, ASlowlyStoppingServiceIsPolledUntilItHasStopped)
{
    fake_client::service_options slow;
    slow.stop_pending_ms = 2000;
    install(first_, slow);
    captured_log log;
    const ULONGLONG began = ::GetTickCount64();
    EXPECT_EQ(1, remove());
    const ULONGLONG took = ::GetTickCount64() - began;
    EXPECT_GE(took, 1800u);
    EXPECT_LT(took, 10000u);
    // It had stopped before the deletion, so it is gone at once, not merely marked for deletion.
    EXPECT_EQ(0u, fake_client::service_state(first_));
    EXPECT_EQ(absent_line(second_) + "\tsucceed\n", log.text());
}

TEST_F(ServiceRemoval, TheStopWaitIsBoundedAndTheServiceDeletedAnyway)
{
    fake_client::service_options slow;
    slow.stop_pending_ms = 4000;
    install(first_, slow);
    captured_log log;
    const ULONGLONG began = ::GetTickCount64();
    EXPECT_EQ(1, remove(600));
    EXPECT_LT(::GetTickCount64() - began, 2500u);
    EXPECT_EQ("\t" + narrow(first_) + " will be removed when Windows restarts\n" + absent_line(second_) +
                  "\tsucceed\n",
              log.text());
    // Marked for deletion while it still stops; Windows removes it when its process ends.
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), fake_client::service_state(first_));
    EXPECT_TRUE(gone_within(first_, 15000));
}

TEST_F(ServiceRemoval, AServiceRefusingTheStopIsDeletedWithoutAWait)
{
    fake_client::service_options stubborn;
    stubborn.accept_stop = false;
    install(first_, stubborn);
    captured_log log;
    const ULONGLONG began = ::GetTickCount64();
    EXPECT_EQ(1, remove());
    EXPECT_LT(::GetTickCount64() - began, 2000u);
    EXPECT_EQ("\t" + narrow(first_) + " will be removed when Windows restarts\n" + absent_line(second_) +
                  "\tsucceed\n",
              log.text());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), fake_client::service_state(first_));
}

// DeleteService only marks a service that has not stopped: it goes when Windows restarts, and the step says
// so and asks for that restart; a second run before the restart finds it marked, and says the same.
TEST_F(ServiceRemoval, AServiceOnlyMarkedForDeletionAsksForARestart)
{
    fake_client::service_options still_stopping;
    still_stopping.stop_pending_ms = 4000;
    fake_client::service_options stubborn;
    stubborn.accept_stop = false;
    const struct {
        const char* what;
        fake_client::service_options options;
    } cases[] = {{"still stopping when the wait ends", still_stopping}, {"refusing the stop", stubborn}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        install(first_, c.options);
        for (const char* run : {"first run", "second run"}) {
            SCOPED_TRACE(run);
            captured_log log;
            EXPECT_EQ(1, remove(600));
            EXPECT_EQ("\t" + narrow(first_) + " will be removed when Windows restarts\n" + absent_line(second_) +
                          "\tsucceed\n",
                      log.text());
            EXPECT_TRUE(cleaner::restart_required);
        }
        EXPECT_EQ(0u, fake_client::remove_service(first_));
        ASSERT_TRUE(gone_within(first_, 15000));
    }
}

// A stopped service's process may still be unloading its modules, which would block their deletion in step 5:
// the step returns only once that process has ended.
TEST_F(ServiceRemoval, AStoppedServicesProcessHasEndedWhenTheStepReturns)
{
    fake_client::service_options lingering;
    lingering.exit_delay_ms = 1500;
    install(first_, lingering);
    const mcl::mswin::unique_handle process = process_of(first_);
    ASSERT_TRUE(process);
    captured_log log;
    EXPECT_EQ(1, remove());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(process.get(), 0));
    EXPECT_EQ(absent_line(second_) + "\tsucceed\n", log.text());
}

} // namespace
