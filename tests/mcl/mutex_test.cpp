#include "mcl/mutex.h"

#include "captured_mcl_log.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

std::string unique_mutex_name() { return "Local\\" + fltest::narrow(fltest::unique_name(L"mcl_mutex_")); }

// Holds the mutex on another thread until told to let go, or (abandon) ends that thread still holding it.
class holder {
public:
    holder(const std::string& name, bool abandon) : mutex_(new mcl::mutex), worker_([this, name, abandon] {
        mutex_->open(name.c_str());
        held_.store(mutex_->acquire(5000) == 0 ? 1 : -1);
        if (abandon)
            return;
        while (!let_go_.load())
            ::Sleep(1);
        mutex_->release();
    })
    {
        while (held_.load() == 0)
            ::Sleep(1);
    }

    ~holder()
    {
        let_go_.store(true);
        worker_.join();
        delete mutex_;  // after an abandon this thread is no owner: only the handle is closed
    }

    bool held() const { return held_.load() == 1; }

private:
    std::atomic<int> held_{0};
    std::atomic<bool> let_go_{false};
    mcl::mutex* mutex_;
    std::thread worker_;
};

TEST(Mutex, SecondCreateOfAnExistingNameGivesMinusTwoAndNoHandle)
{
    const std::string name = unique_mutex_name();
    mcl::mutex first;
    ASSERT_EQ(first.create(name.c_str()), 0);
    ASSERT_NE(first.handle(), nullptr);

    mcl::mutex second;
    EXPECT_EQ(second.create(name.c_str()), -2);
    EXPECT_EQ(second.handle(), nullptr);
    EXPECT_EQ(second.acquire(), -3);
    EXPECT_EQ(second.release(), -3);
}

TEST(Mutex, RecreatingOrCreatingAnImportedMutexIsRefusedWithItsMessage)
{
    fltest::captured_mcl_log log;
    const std::string name = unique_mutex_name();
    mcl::mutex m;
    ASSERT_EQ(m.create(name.c_str()), 0);
    EXPECT_EQ(m.create(name.c_str()), -2);
    EXPECT_TRUE(log.contains("[mcl::mutex::create:41] - Re-create mutex is not supported, the mutex has already "
                             "been created\n"));

    HANDLE raw = ::CreateMutexW(nullptr, FALSE, nullptr);
    {
        mcl::mutex imported(raw);
        EXPECT_EQ(imported.create(name.c_str()), -1);
        EXPECT_EQ(imported.acquire(0), 0);
    }
    EXPECT_TRUE(log.contains("[mcl::mutex::create:37] - Re-create mutex is not supported, this is imported mutex\n"));
    // Not closed by the imported object (but released: it held it).
    EXPECT_EQ(::WaitForSingleObject(raw, 0), WAIT_OBJECT_0);
    ::ReleaseMutex(raw);
    EXPECT_TRUE(::CloseHandle(raw));
}

TEST(Mutex, AcquireTwiceAndReleaseWhenNotHeldReturnZero)
{
    const std::string name = unique_mutex_name();
    mcl::mutex m;
    ASSERT_EQ(m.create(name.c_str()), 0);
    EXPECT_EQ(m.release(), 0);
    EXPECT_EQ(m.acquire(), 0);
    EXPECT_EQ(m.acquire(0), 0);
    EXPECT_TRUE(m.acquired());
    EXPECT_EQ(m.release(), 0);
    EXPECT_FALSE(m.acquired());
    // One ReleaseMutex for one wait: a second release would fail if the second acquire had waited again.
    EXPECT_EQ(m.release(), 0);
    EXPECT_FALSE(::ReleaseMutex(m.handle()));
}

TEST(Mutex, HeldElsewhereTimesOutWithItsMessage)
{
    fltest::captured_mcl_log log;
    const std::string name = unique_mutex_name();
    mcl::mutex m;
    ASSERT_EQ(m.create(name.c_str()), 0);
    {
        holder other(name, false);
        ASSERT_TRUE(other.held());
        EXPECT_EQ(m.acquire(20), -1);
        EXPECT_FALSE(m.acquired());
    }
    EXPECT_TRUE(log.contains("[mcl::mutex::acquire:115] - Time-out when accquiring the mutex\n"));
    EXPECT_EQ(m.acquire(1000), 0);
}

TEST(Mutex, AbandonedMutexFailsOnceWithoutMessageAndIsNotKept)
{
    fltest::captured_mcl_log log;
    const std::string name = unique_mutex_name();
    mcl::mutex m;
    ASSERT_EQ(m.create(name.c_str()), 0);
    {
        holder gone(name, true);
        ASSERT_TRUE(gone.held());
    }
    EXPECT_EQ(m.acquire(1000), -1);
    EXPECT_FALSE(m.acquired());
    EXPECT_EQ(log.text(), "");

    // Ownership taken over from the dead thread was handed back: another thread can have it at once.
    std::atomic<int> other_result{-9};
    std::thread other([&] {
        mcl::mutex again;
        again.open(name.c_str());
        other_result = again.acquire(0);
    });
    other.join();
    EXPECT_EQ(other_result.load(), 0);
}

TEST(Mutex, OpenFindsAnExistingMutexAndReportsAMissingOne)
{
    fltest::captured_mcl_log log;
    const std::string name = unique_mutex_name();
    mcl::mutex created;
    ASSERT_EQ(created.create(name.c_str()), 0);
    mcl::mutex opened;
    EXPECT_EQ(opened.open(name.c_str()), 0);
    EXPECT_EQ(opened.open(name.c_str()), -2);

    mcl::mutex missing;
    const std::string absent = unique_mutex_name();
    EXPECT_EQ(missing.open(absent.c_str()), -1);
    EXPECT_EQ(missing.handle(), nullptr);
    EXPECT_TRUE(log.contains("[mcl::mutex::open:92] - Failed to open mutex \"" + absent + "\", error [2:"))
        << log.text();
}

TEST(Mutex, InheritFlagGivesAnOpenDescriptorAndTheHandleFlag)
{
    const std::string name = unique_mutex_name();
    const unsigned char inherit = 1;
    mcl::mutex shared;
    ASSERT_EQ(shared.create(name.c_str(), &inherit), 0);
    DWORD flags = 0;
    ASSERT_TRUE(::GetHandleInformation(shared.handle(), &flags));
    EXPECT_TRUE(flags & HANDLE_FLAG_INHERIT);

    const unsigned char no_inherit = 0;
    const std::string other_name = unique_mutex_name();
    mcl::mutex local;
    ASSERT_EQ(local.create(other_name.c_str(), &no_inherit), 0);
    ASSERT_TRUE(::GetHandleInformation(local.handle(), &flags));
    EXPECT_FALSE(flags & HANDLE_FLAG_INHERIT);
}

TEST(Mutex, DestructionReleasesAHeldMutex)
{
    const std::string name = unique_mutex_name();
    mcl::mutex keeper;
    ASSERT_EQ(keeper.create(name.c_str()), 0);
    std::atomic<int> result{-9};
    std::thread owner([&] {
        mcl::mutex m;
        m.open(name.c_str());
        result = m.acquire(0);
    });
    owner.join();
    ASSERT_EQ(result.load(), 0);
    // The owner thread's object released before its thread ended, so this is no abandoned wait.
    EXPECT_EQ(::WaitForSingleObject(keeper.handle(), 0), WAIT_OBJECT_0);
    ::ReleaseMutex(keeper.handle());
}

// A created and an opened handle both close with their objects: then nothing holds the named mutex.
TEST(Mutex, CreatedAndOpenedHandlesCloseWithTheirObjects)
{
    const std::string name = unique_mutex_name();
    {
        mcl::mutex created;
        ASSERT_EQ(created.create(name.c_str()), 0);
        mcl::mutex opened;
        ASSERT_EQ(opened.open(name.c_str()), 0);
    }
    EXPECT_EQ(::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

} // namespace
