#include "mcl/thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Keeps its own handle to the OS thread, so the exit code can be read after stop() closed the object's.
class probe_thread : public mcl::thread {
public:
    enum class body { cooperative, ignores_stop, returns_at_once, stops_itself, stops_itself_when_asked };

    explicit probe_thread(body kind) : kind_(kind) {}
    ~probe_thread() override
    {
        stop(10);
        if (own_handle_ != nullptr)
            ::CloseHandle(own_handle_);
    }

    DWORD run() override
    {
        if (own_handle_ == nullptr)
            ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &own_handle_, 0,
                              FALSE, DUPLICATE_SAME_ACCESS);
        runs.fetch_add(1);
        started.store(true);
        switch (kind_) {
        case body::cooperative:
            ::WaitForSingleObject(stop_event.handle(), INFINITE);
            return 5;
        case body::ignores_stop:
            for (;;)
                ::Sleep(5);
        case body::returns_at_once:
            break;
        case body::stops_itself:
            stop(5);
            return stop_event.is_set() ? 9 : 8;
        case body::stops_itself_when_asked:
            // As a handler that shuts its owner down while the owner is being stopped from outside.
            ::WaitForSingleObject(stop_event.handle(), INFINITE);
            stop(5);
            return 9;
        }
        return 7;
    }

    void wait_started() const
    {
        while (!started.load())
            ::Sleep(1);
    }

    DWORD exit_code() const
    {
        DWORD code = 0;
        ::WaitForSingleObject(own_handle_, 5000);
        ::GetExitCodeThread(own_handle_, &code);
        return code;
    }

    std::atomic<int> runs{0};
    std::atomic<bool> started{false};

private:
    body kind_;
    HANDLE own_handle_ = nullptr;
};

TEST(Thread, CooperativeStopLetsRunReturn)
{
    probe_thread t(probe_thread::body::cooperative);
    ASSERT_TRUE(t.start());
    t.wait_started();
    t.stop(5);
    EXPECT_FALSE(t.running());
    EXPECT_EQ(t.exit_code(), 5u);
}

TEST(Thread, ThreadIgnoringTheStopIsTerminatedAtOnceOrWhenThePollsRunOut)
{
    // A body that honoured the stop request could end by itself between the request and the termination.
    for (const unsigned seconds : {0u, 1u}) {
        SCOPED_TRACE(seconds);
        probe_thread t(probe_thread::body::ignores_stop);
        ASSERT_TRUE(t.start());
        t.wait_started();
        t.stop(seconds);
        EXPECT_FALSE(t.running());
        EXPECT_EQ(t.exit_code(), 0xFFFFFFFFu);
    }
}

TEST(Thread, ThreadThatEndedByItselfIsNotTerminated)
{
    probe_thread t(probe_thread::body::returns_at_once);
    ASSERT_TRUE(t.start());
    t.wait_started();
    EXPECT_EQ(t.exit_code(), 7u);  // waits for the end
    t.stop(0);
    EXPECT_EQ(t.exit_code(), 7u);
    EXPECT_FALSE(t.running());
}

TEST(Thread, StopFromItsOwnBodyOnlyAsksForTheStop)
{
    probe_thread t(probe_thread::body::stops_itself);
    ASSERT_TRUE(t.start());
    t.wait_started();
    EXPECT_EQ(t.exit_code(), 9u);  // neither terminated nor stuck
    t.stop(0);
    EXPECT_FALSE(t.running());
}

TEST(Thread, OwnStopDuringAStopFromOutsideDoesNotWaitForIt)
{
    // The outside stop holds the state lock for its whole wait; the body's own stop must not queue behind it,
    // or the body is terminated instead of ending by itself.
    probe_thread t(probe_thread::body::stops_itself_when_asked);
    ASSERT_TRUE(t.start());
    t.wait_started();
    t.stop(1);
    EXPECT_FALSE(t.running());
    EXPECT_EQ(t.exit_code(), 9u);
}

TEST(Thread, StartingTwiceMakesOneThreadAndStopAllowsARestart)
{
    probe_thread t(probe_thread::body::cooperative);
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.start());
    t.wait_started();
    t.stop(5);
    EXPECT_EQ(t.runs.load(), 1);

    t.started.store(false);
    ASSERT_TRUE(t.start());
    t.wait_started();
    t.stop(5);
    EXPECT_EQ(t.runs.load(), 2);
}

TEST(Thread, StopWithoutAThreadAndDestructionOfARunningOneAreSafe)
{
    probe_thread idle(probe_thread::body::cooperative);
    idle.stop(0);
    EXPECT_FALSE(idle.running());

    auto* running = new probe_thread(probe_thread::body::cooperative);
    ASSERT_TRUE(running->start());
    running->wait_started();
    delete running;  // stops cooperatively on the way out
}

} // namespace
